#include "services/DepartmentTree.h"

#include "services/DepartmentHierarchy.h"
#include "services/QueryScope.h"

#include <charconv>
#include <optional>
#include <unordered_set>

namespace services {

namespace {

using departments::Department;
using departments::Hierarchy;
using departments::Link;

std::optional<int> optionalInt(const TDbField& field)
{
    return field.IsNull() ? std::nullopt : std::optional<int>(field.AsInteger());
}

// Straight from the database's UTF-16, as the tree shows it; null reads as empty.
std::u16string text(const TDbField& field) { return field.Value().toString().toStdU16String(); }

// All departments in order of code, through QDepByCod.
std::vector<Department> readDepartmentsByCode(TDbQuery& QDepByCod)
{
    TQueryCloser closer(QDepByCod);
    QDepByCod.Open();
    std::vector<Department> all;
    for (; !QDepByCod.Eof(); QDepByCod.Next())
        all.push_back({optionalInt(QDepByCod.FieldByName("CODE")), text(QDepByCod.FieldByName("NAIM_K"))});
    return all;
}

// The hierarchy with the names of the departments, as a query per parent
// node reads it, from one read of STRUCTURE: the join with DEPARTM is made
// here, with the departments already read. The database orders by POS, so
// siblings come as its per-parent queries would give them.
Hierarchy readHierarchy(TDbConnection& connection, const std::vector<Department>& departmentsByCode)
{
    // No transaction of its own: it reads under the connection's, as the
    // per-level queries it replaces did.
    TDbQuery query(connection, nullptr, nullptr,
                   "select PARENT_ID, CHILD_ID from STRUCTURE\n"
                   "order by POS");
    TQueryCloser closer(query);
    query.Open();
    std::vector<departments::StructureRow> rows;
    for (; !query.Eof(); query.Next())
        rows.push_back({optionalInt(query.FieldByName("PARENT_ID")), optionalInt(query.FieldByName("CHILD_ID"))});
    return departments::JoinByPosition(rows, departmentsByCode);
}

// The links whose child DEPARTM has, for the codes below a department.
Hierarchy readKnownLinks(TDbConnection& connection)
{
    TDbQuery query(connection, nullptr, nullptr,
                   "select s.PARENT_ID, s.CHILD_ID\n"
                   "from STRUCTURE s inner join DEPARTM d on s.CHILD_ID = d.CODE\n"
                   "order by s.POS");
    TQueryCloser closer(query);
    query.Open();
    Hierarchy hierarchy;
    for (; !query.Eof(); query.Next())
        hierarchy.Add(optionalInt(query.FieldByName("PARENT_ID")), {IntOrZero(query.FieldByName("CHILD_ID")), {}});
    return hierarchy;
}

// A whole decimal number, or nullopt.
std::optional<int> decimal(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// Calls `each` with every item of a comma-separated list; empty items count,
// an empty list has none.
template <typename Each> void forEachItem(const std::string& list, Each each)
{
    if (list.empty())
        return;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        each(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            return;
        start = comma + 1;
    }
}

} // namespace

void TDepartmentTree::BuildTree(platform::TreeView& TreeDep, bool FAll, const std::string& ListDep)
{
    TreeDep.clear();
    TreeDep.repaint();
    platform::TreeNode* F = TreeDep.selected();
    departments::TreeFiller filler(TreeDep);

    if (FAll) {
        const std::vector<Department> departmentsByCode = readDepartmentsByCode(q_.QDepByCod);
        const Hierarchy hierarchy = readHierarchy(urv_, departmentsByCode);
        if (hierarchy.Roots().empty()) {
            // No hierarchy recorded: every department, flat, in order of code.
            for (const Department& d : departmentsByCode) {
                F = filler.AddTop(F, d.Name, d.Code.value_or(0));
                TreeDep.setStateIndex(F, 0);
            }
        } else {
            for (const Link& root : hierarchy.Roots()) {
                F = filler.AddTop(F, root.Name, root.Child);
                for (const Link& child : hierarchy.ChildrenOf(root.Child)) {
                    if (child.Child == 0)
                        continue;
                    filler.AddBranch(hierarchy, filler.AddChild(F, child.Name, child.Child), child.Child);
                }
            }
        }
        // Departments the hierarchy does not reach go to the end of the top
        // level. The set of shown codes keeps this linear in the departments.
        F = TreeDep.topItem();
        for (const Department& d : departmentsByCode)
            if (!filler.Shows(d.Code.value_or(0)))
                F = filler.AddTop(F, d.Name, d.Code.value_or(0));
    } else {
        std::optional<Hierarchy> hierarchy;
        // The node of the last department found: the branch of a code that
        // DEPARTM lacks still goes below it.
        platform::TreeNode* N = nullptr;
        forEachItem(ListDep, [&](const std::string& item) {
            // One bad item (not a number, a database error) costs only that item.
            try {
                const std::optional<int> C = decimal(item);
                if (!C)
                    return;
                {
                    TQueryCloser closer(q_.QFindDep);
                    q_.QFindDep.Param(0).SetInteger(*C);
                    q_.QFindDep.Open();
                    if (!q_.QFindDep.Eof())
                        N = filler.AddTop(F, text(q_.QFindDep.FieldByName("NAIM_K")), *C);
                }
                if (!hierarchy)
                    hierarchy = readHierarchy(urv_, readDepartmentsByCode(q_.QDepByCod));
                filler.AddBranch(*hierarchy, N, *C);
            } catch (const std::exception&) {
            }
        });
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

std::string TDepartmentTree::FindDepChild(int CDep)
{
    std::string S;
    TQueryCloser closer(q_.QDepChild);
    // A QDepChild opened by the caller is walked as it stands, from its current row.
    if (!q_.QDepChild.Active()) {
        q_.QDepChild.Param(0).SetInteger(CDep);
        q_.QDepChild.Open();
    }
    std::optional<Hierarchy> hierarchy;
    for (; !q_.QDepChild.Eof(); q_.QDepChild.Next()) {
        S += ',';
        S += q_.QDepChild.FieldByName("CHILD_ID").AsString();
        if (!hierarchy)
            hierarchy = readKnownLinks(urv_);
        departments::AppendDescendants(*hierarchy, 1, IntOrZero(q_.QDepChild.FieldByName("CHILD_ID")), S);
    }
    return std::to_string(CDep) + S;
}

std::string TDepartmentTree::FindDepParents(int CDep)
{
    std::string S;
    int Cd = CDep;
    // A cycle in STRUCTURE would lead back to a department already listed:
    // the walk ends there, listing each department once.
    std::unordered_set<int> seen{CDep};
    while (Cd > 0) {
        TQueryCloser closer(q_.QDepParents);
        q_.QDepParents.ParamByName("pDep").SetInteger(Cd);
        q_.QDepParents.Open();
        if (q_.QDepParents.Eof()) {
            Cd = 0;
            continue;
        }
        const TDbField parent = q_.QDepParents.FieldByName("PARENT_ID");
        Cd = IntOrZero(parent);
        S += parent.AsString();
        S += ',';
        if (!seen.insert(Cd).second)
            break;
    }
    if (!S.empty())
        S.pop_back();
    return S;
}

namespace {

std::string shortName(TDbQuery& query, int code)
{
    TQueryCloser closer(query);
    query.Param(0).SetInteger(code);
    query.Open();
    return query.FieldByName("NAIM_K").AsString();
}

} // namespace

std::string TDepartmentTree::FindDep(int CD) { return shortName(q_.QFDep, CD); }

std::string TDepartmentTree::FindJob(int CJ) { return shortName(q_.QFJob, CJ); }

} // namespace services
