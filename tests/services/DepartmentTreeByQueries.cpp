#include "tests/services/DepartmentTreeByQueries.h"

#include "platform/TextCodec.h"

#include <array>
#include <charconv>

namespace servicestest {

namespace {

int intOrZero(const TDbField& field) { return field.IsNull() ? 0 : field.AsInteger(); }

std::u16string text(const TDbQuery& query) { return platform::ansiToUtf16(query.FieldByName("NAIM_K").AsString()); }

struct TreeWalk {
    TMainDM& dm;
    platform::TreeView& view;
    std::array<platform::TreeNode*, 9> nodes{}; // entry j: the parent for level j

    void expandLevel(int j, int P)
    {
        TDbQuery level(dm.QBranch.Connection, nullptr, nullptr,
                       "select s.CHILD_ID, d.NAIM_K\n"
                       "from STRUCTURE s left join DEPARTM d on s.CHILD_ID=d.CODE\n"
                       "where (s.Parent_ID = " +
                           std::to_string(P) +
                           ")\n"
                           "order by s.POS");
        level.Open();
        while (!level.Eof()) {
            platform::TreeNode* node = view.addChild(nodes[j], text(level));
            const int child = intOrZero(level.FieldByName("CHILD_ID"));
            view.setImageIndex(node, child);
            if (j <= 7)
                nodes[j + 1] = node;
            if (j > 7)
                break;
            expandLevel(j + 1, child);
            level.Next();
        }
        level.Close();
    }

    void addBranch(platform::TreeNode* N, int code)
    {
        dm.QBranch.ParamByName("pFCh").SetInteger(code);
        dm.QBranch.Open();
        while (!dm.QBranch.Eof()) {
            platform::TreeNode* node = view.addChild(N, text(dm.QBranch));
            nodes[1] = node;
            const int child = intOrZero(dm.QBranch.FieldByName("CHILD_ID"));
            view.setImageIndex(node, child);
            expandLevel(1, child);
            dm.QBranch.Next();
        }
        dm.QBranch.Close();
    }
};

void collect(TMainDM& dm, int j, int P, std::string& S)
{
    TDbQuery level(dm.QDepChild.Connection, nullptr, nullptr,
                   "select s.CHILD_ID, d.NAIM_K\n"
                   "from STRUCTURE s inner join DEPARTM d on s.CHILD_ID = d.CODE\n"
                   "where s.Parent_ID = " +
                       std::to_string(P) +
                       "\n"
                       "order by s.POS");
    level.Open();
    while (!level.Eof()) {
        S += "," + level.FieldByName("CHILD_ID").AsString();
        if (j > 7)
            break;
        collect(dm, j + 1, intOrZero(level.FieldByName("CHILD_ID")), S);
        level.Next();
    }
    level.Close();
}

} // namespace

void BuildTreeByQueries(TMainDM& dm, platform::TreeView& TreeDep, bool FAll, const std::string& ListDep)
{
    TreeDep.clear();
    TreeDep.repaint();
    platform::TreeNode* F = TreeDep.selected();
    TreeWalk walk{dm, TreeDep};
    if (FAll) {
        dm.QRoot.Open();
        if (dm.QRoot.Eof()) {
            dm.QDepByCod.Open();
            while (!dm.QDepByCod.Eof()) {
                F = TreeDep.add(F, text(dm.QDepByCod));
                TreeDep.setStateIndex(F, 0);
                TreeDep.setImageIndex(F, intOrZero(dm.QDepByCod.FieldByName("CODE")));
                dm.QDepByCod.Next();
            }
            dm.QDepByCod.Close();
        } else {
            while (!dm.QRoot.Eof()) {
                const int R = intOrZero(dm.QRoot.FieldByName("CHILD_ID"));
                F = TreeDep.add(F, text(dm.QRoot));
                TreeDep.setImageIndex(F, R);
                dm.QParents.ParamByName("pRoot").SetInteger(R);
                dm.QParents.Open();
                while (!dm.QParents.Eof()) {
                    const int child = intOrZero(dm.QParents.FieldByName("CHILD_ID"));
                    if (child != 0) {
                        platform::TreeNode* N = TreeDep.addChild(F, text(dm.QParents));
                        TreeDep.setImageIndex(N, child);
                        walk.addBranch(N, child);
                    }
                    dm.QParents.Next();
                }
                dm.QParents.Close();
                dm.QRoot.Next();
            }
        }
        F = TreeDep.topItem();
        dm.QDepByCod.Open();
        while (!dm.QDepByCod.Eof()) {
            const int code = intOrZero(dm.QDepByCod.FieldByName("CODE"));
            bool found = false;
            // Every node, depth first; item() and next() walk the same order.
            for (platform::TreeNode* node = TreeDep.item(0); node; node = TreeDep.next(node))
                if (TreeDep.imageIndex(node) == code)
                    found = true;
            if (!found) {
                F = TreeDep.add(F, text(dm.QDepByCod));
                TreeDep.setImageIndex(F, code);
            }
            dm.QDepByCod.Next();
        }
        dm.QDepByCod.Close();
        dm.QRoot.Close();
    } else if (!ListDep.empty()) {
        platform::TreeNode* N = nullptr;
        std::string rest = ListDep;
        for (bool more = true; more;) {
            const size_t comma = rest.find(',');
            const std::string item = rest.substr(0, comma);
            more = comma != std::string::npos;
            rest = more ? rest.substr(comma + 1) : std::string();
            int C = 0;
            const auto [stop, error] = std::from_chars(item.data(), item.data() + item.size(), C);
            if (item.empty() || error != std::errc() || stop != item.data() + item.size())
                continue;
            dm.QFindDep.Param(0).SetInteger(C);
            dm.QFindDep.Open();
            if (!dm.QFindDep.Eof()) {
                N = TreeDep.add(F, text(dm.QFindDep));
                TreeDep.setImageIndex(N, C);
            }
            dm.QFindDep.Close();
            walk.addBranch(N, C);
        }
    }
    if (platform::TreeNode* top = TreeDep.topItem()) {
        TreeDep.expand(top);
        if (platform::TreeNode* second = TreeDep.next(top)) {
            TreeDep.expand(second);
            if (platform::TreeNode* child = TreeDep.firstChild(second))
                TreeDep.expand(child);
        }
    }
}

std::string FindDepChildByQueries(TMainDM& dm, int CDep)
{
    std::string S;
    if (!dm.QDepChild.Active()) {
        dm.QDepChild.Param(0).SetInteger(CDep);
        dm.QDepChild.Open();
    }
    while (!dm.QDepChild.Eof()) {
        S += "," + dm.QDepChild.FieldByName("CHILD_ID").AsString();
        collect(dm, 1, intOrZero(dm.QDepChild.FieldByName("CHILD_ID")), S);
        dm.QDepChild.Next();
    }
    dm.QDepChild.Close();
    return std::to_string(CDep) + S;
}

} // namespace servicestest
