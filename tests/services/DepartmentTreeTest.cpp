// The department hierarchy on embedded Firebird databases: a small
// organisation with the awkward rows of STRUCTURE, one deeper than the depth
// limit, one without top-level departments, and one with cycles. Trees are
// filled into a QTreeWidget offscreen and compared node for node.
#include "datamodule/MDm.h"

#include "platform/RecordingMessages.h"
#include "platform/qt/QtTreeView.h"
#include "tests/services/DepartmentTreeByQueries.h"
#include "tests/services/ServicesDb.h"
#include "tests/support/AnsiText.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

using servicestest::connectEmbedded;

namespace {

using Lines = std::vector<std::string>;

// Creates the working-time tables and fills them a block of statements at a time.
std::unique_ptr<testsupport::FirebirdTestDb> departmentsDb(const Lines& inserts, const std::string& posType = "integer")
{
    auto db = std::make_unique<testsupport::FirebirdTestDb>();
    db->execute("create table DEPARTM (CODE integer, NAIM_K varchar(50), NAIM_D varchar(100))");
    db->execute("create table STRUCTURE (PARENT_ID integer, CHILD_ID integer, POS " + posType + ")");
    db->execute("create table JOBS (CODE integer, NAIM_K varchar(50))");
    // A block may name at most 256 table contexts.
    const size_t perBlock = 200;
    for (size_t first = 0; first < inserts.size(); first += perBlock) {
        std::string block = "execute block as begin\n";
        for (size_t i = first; i < std::min(inserts.size(), first + perBlock); ++i)
            block += inserts[i] + ";\n";
        db->execute(block + "end");
    }
    return db;
}

// One line per node, depth first: two blanks per level, the text, "#" and the image index.
void dumpItem(QTreeWidgetItem* item, int depth, Lines& out)
{
    const platform::QtTreeNode* node = platform::QtTreeView::node(item);
    out.push_back(std::string(2 * depth, ' ') + item->text(0).toStdString() + " #" +
                  std::to_string(node ? node->ImageIndex : -99));
    for (int i = 0; i < item->childCount(); ++i)
        dumpItem(item->child(i), depth + 1, out);
}

// A hundred and fifty departments under random parents: long chains that
// pass the depth limit, several top-level departments, parents that point
// forward and so close cycles, departments outside the hierarchy or missing
// from DEPARTM, and the odd rows.
Lines randomHierarchy()
{
    std::mt19937 random(20261210);
    Lines rows;
    const int departments = 150;
    int pos = 0;
    auto link = [&](const std::string& parent, const std::string& child) {
        rows.push_back("insert into STRUCTURE values (" + parent + ", " + child + ", " + std::to_string(++pos) + ")");
    };
    for (int code = 1; code <= departments; ++code) {
        if (code % 23 != 0)
            rows.push_back("insert into DEPARTM values (" + std::to_string(code) + ", 'Отдел " + std::to_string(code) +
                           "', null)");
        const unsigned roll = random() % 100;
        if (roll == 50)
            continue;
        std::string parent;
        if (code <= 3 || roll < 2)
            parent = roll % 2 ? "0" : "null";
        else if (roll < 60)
            parent = std::to_string(code - 1);
        else if (roll < 98)
            parent = std::to_string(random() % (code - 1) + 1);
        else
            parent = std::to_string(random() % departments + 1);
        link(parent, std::to_string(code));
    }
    link("1", "0");
    link("2", "null");
    link("40", "9999");
    link("60", "null");
    link("70", "0");
    // A code twice in DEPARTM (under one name, since the order of equal
    // codes is the database's), a department without a code, a null POS.
    rows.push_back("insert into DEPARTM values (30, 'Отдел 30', 'второй раз')");
    rows.push_back("insert into DEPARTM values (null, 'Без кода', null)");
    rows.push_back("insert into STRUCTURE values (5, 140, null)");
    return rows;
}

class DepartmentTreeTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> small;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> deep;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> rootless;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> cyclic;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> generated;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> textualPos;

    static void SetUpTestSuite()
    {
        generated = departmentsDb(randomHierarchy());
        small = departmentsDb({
            "insert into DEPARTM values (1, 'Архив', 'Архив предприятия')",
            "insert into DEPARTM values (3, 'Завод', 'Завод в целом')",
            "insert into DEPARTM values (5, 'Склад', null)",
            "insert into DEPARTM values (7, 'Экспедиция', null)",
            "insert into DEPARTM values (8, 'Сирота', null)",
            "insert into DEPARTM values (12, 'Цех', null)",
            "insert into DEPARTM values (20, 'Участок', null)",
            "insert into DEPARTM values (21, 'Бригада', null)",
            "insert into DEPARTM values (30, 'Смена', null)",
            "insert into DEPARTM values (40, 'Гараж', null)",
            "insert into DEPARTM values (41, 'Столовая', null)",
            "insert into STRUCTURE values (0, 3, 1)",
            "insert into STRUCTURE values (null, 5, 2)",
            "insert into STRUCTURE values (5, 7, 1)",
            // Second-level rows without a department add nothing.
            "insert into STRUCTURE values (3, 0, 1)",
            "insert into STRUCTURE values (3, null, 2)",
            "insert into STRUCTURE values (3, 12, 3)",
            "insert into STRUCTURE values (12, 21, 1)",
            "insert into STRUCTURE values (12, 20, 2)",
            // A branch row whose department DEPARTM lacks.
            "insert into STRUCTURE values (12, 77, 3)",
            "insert into STRUCTURE values (20, 30, 1)",
            // Below a department that is nowhere in the hierarchy.
            "insert into STRUCTURE values (99, 8, 1)",
            "insert into JOBS values (5, 'Токарь')",
        });

        // A chain 1-2-...-13 below the top-level 1, with second children at 9 and 10.
        Lines chain;
        for (int code = 1; code <= 15; ++code)
            chain.push_back("insert into DEPARTM values (" + std::to_string(code) + ", 'Д" + std::to_string(code) +
                            "', null)");
        chain.push_back("insert into STRUCTURE values (0, 1, 1)");
        for (int code = 2; code <= 13; ++code)
            chain.push_back("insert into STRUCTURE values (" + std::to_string(code - 1) + ", " + std::to_string(code) +
                            ", 1)");
        chain.push_back("insert into STRUCTURE values (10, 14, 2)");
        chain.push_back("insert into STRUCTURE values (9, 15, 2)");
        deep = departmentsDb(chain);

        rootless = departmentsDb({
            "insert into DEPARTM values (2, 'Б', null)",
            "insert into DEPARTM values (1, 'А', null)",
            "insert into DEPARTM values (3, 'В', null)",
            "insert into STRUCTURE values (1, 2, 1)",
        });

        cyclic = departmentsDb({
            "insert into DEPARTM values (50, 'Корень', null)",
            "insert into DEPARTM values (51, 'А', null)",
            "insert into DEPARTM values (52, 'Б', null)",
            "insert into DEPARTM values (60, 'X', null)",
            "insert into DEPARTM values (61, 'Y', null)",
            "insert into DEPARTM values (62, 'Z', null)",
            "insert into STRUCTURE values (null, 50, 1)",
            "insert into STRUCTURE values (50, 51, 1)",
            "insert into STRUCTURE values (51, 52, 1)",
            // 51 and 52 below each other; a null child below 52.
            "insert into STRUCTURE values (52, 51, 1)",
            "insert into STRUCTURE values (52, null, 2)",
            // 60, 61 and 62 in a ring that no top-level department reaches.
            "insert into STRUCTURE values (60, 61, 1)",
            "insert into STRUCTURE values (61, 62, 1)",
            "insert into STRUCTURE values (62, 60, 1)",
        });

        // Positions kept as text sort as the database sorts text: "10" before "9".
        textualPos = departmentsDb(
            {
                "insert into DEPARTM values (1, 'Завод', null)",
                "insert into DEPARTM values (2, 'Второй', null)",
                "insert into DEPARTM values (9, 'Девятый', null)",
                "insert into DEPARTM values (10, 'Десятый', null)",
                "insert into DEPARTM values (11, 'Без места', null)",
                "insert into STRUCTURE values (0, 1, '1')",
                "insert into STRUCTURE values (1, 9, '9')",
                "insert into STRUCTURE values (1, 10, '10')",
                "insert into STRUCTURE values (1, 2, '2')",
                "insert into STRUCTURE values (9, 11, 'x')",
                "insert into STRUCTURE values (9, 10, '1')",
            },
            "varchar(5)");
    }
    static void TearDownTestSuite()
    {
        textualPos.reset();
        small.reset();
        deep.reset();
        rootless.reset();
        cyclic.reset();
        generated.reset();
    }

    platform::RecordingMessages messages;
    TMainDM dm{messages};
    QTreeWidget widget;
    platform::QtTreeView view{widget};
    int statements = 0;

    void use(const testsupport::FirebirdTestDb& db)
    {
        dm.FDconUrv.Close();
        connectEmbedded(dm.FDconUrv, db);
        dm.FDconUrv.OnStatement = [this](TDbStatement&) { ++statements; };
    }

    Lines tree() const
    {
        Lines out;
        for (int i = 0; i < widget.topLevelItemCount(); ++i)
            dumpItem(widget.topLevelItem(i), 0, out);
        return out;
    }

    // Everything the tree shows and keeps: text, image and state index, expansion.
    Lines everything() const
    {
        Lines out;
        for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&widget)); *it; ++it) {
            int depth = 0;
            for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent())
                ++depth;
            const platform::QtTreeNode* node = platform::QtTreeView::node(*it);
            out.push_back(std::to_string(depth) + " " + (*it)->text(0).toStdString() + " #" +
                          std::to_string(node->ImageIndex) + " s" + std::to_string(node->StateIndex) +
                          ((*it)->isExpanded() ? " +" : ""));
        }
        return out;
    }

    Lines expanded() const
    {
        Lines out;
        for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(&widget)); *it; ++it)
            if ((*it)->isExpanded())
                out.push_back((*it)->text(0).toStdString());
        return out;
    }

    void expectAllQueriesClosed()
    {
        for (const TDmQueryEntry& e : dm.QueryComponents())
            if (e.Query) {
                EXPECT_FALSE(e.Query->Active()) << e.Name;
            }
    }
};

TEST_F(DepartmentTreeTest, WholeHierarchyThenTheDepartmentsItDoesNotReach)
{
    use(*small);
    // Nodes of an earlier fill go.
    view.addChild(nullptr, u"старый");
    dm.BuildTree(view, true, "");
    EXPECT_EQ(tree(), (Lines{
                          "Завод #3",
                          "  Цех #12",
                          "    Бригада #21",
                          "    Участок #20",
                          "      Смена #30",
                          "     #77",
                          "Склад #5",
                          "  Экспедиция #7",
                          "Архив #1",
                          "Сирота #8",
                          "Гараж #40",
                          "Столовая #41",
                      }));
    // The top item, the node after it and that node's first child, one level each.
    EXPECT_EQ(expanded(), (Lines{"Завод", "Цех", "Бригада"}));
    for (QTreeWidgetItemIterator it(&widget); *it; ++it)
        EXPECT_EQ(platform::QtTreeView::node(*it)->StateIndex, -1) << "state index is set only in the flat list";
    EXPECT_TRUE(messages.texts().empty());
    expectAllQueriesClosed();
}

TEST_F(DepartmentTreeTest, TheDepthLimitAddsOnlyTheFirstRowOfTheEighthLevel)
{
    use(*deep);
    dm.BuildTree(view, true, "");
    EXPECT_EQ(tree(), (Lines{
                          "Д1 #1",
                          "  Д2 #2",
                          "    Д3 #3",
                          "      Д4 #4",
                          "        Д5 #5",
                          "          Д6 #6",
                          "            Д7 #7",
                          "              Д8 #8",
                          "                Д9 #9",
                          "                  Д10 #10",
                          "                    Д11 #11",
                          "                  Д15 #15",
                          // Below the limit or behind the first row: not reached.
                          "Д12 #12",
                          "Д13 #13",
                          "Д14 #14",
                      }));
    EXPECT_LE(statements, 2) << "the hierarchy is read at once, not per node";

    EXPECT_EQ(dm.FindDepChild(1), "1,2,3,4,5,6,7,8,9,10") << "ninth generation: first child only";
    EXPECT_EQ(dm.FindDepChild(5), "5,6,7,8,9,10,11,12,13,14,15");
    EXPECT_EQ(dm.FindDepParents(13), "12,11,10,9,8,7,6,5,4,3,2,1,0");
}

TEST_F(DepartmentTreeTest, WithoutTopLevelDepartmentsAllAreListedFlatByCode)
{
    use(*rootless);
    dm.BuildTree(view, true, "");
    EXPECT_EQ(tree(), (Lines{"А #1", "Б #2", "В #3"}));
    for (QTreeWidgetItemIterator it(&widget); *it; ++it)
        EXPECT_EQ(platform::QtTreeView::node(*it)->StateIndex, 0);
    EXPECT_EQ(expanded(), (Lines{"А", "Б"}));
}

TEST_F(DepartmentTreeTest, CyclesEndAtTheDepthLimitAndNullChildrenAddEmptyNodes)
{
    use(*cyclic);
    dm.BuildTree(view, true, "");
    EXPECT_EQ(tree(), (Lines{
                          "Корень #50",
                          "  А #51",
                          "    Б #52",
                          "      А #51",
                          "        Б #52",
                          "          А #51",
                          "            Б #52",
                          "              А #51",
                          "                Б #52",
                          "                  А #51",
                          "                    Б #52",
                          "                   #0",
                          "               #0",
                          "           #0",
                          "       #0",
                          "X #60",
                          "Y #61",
                          "Z #62",
                      }));
    EXPECT_EQ(dm.FindDepChild(60), "60,61,62,60,61,62,60,61,62,60");
    // The walk up ends where the ring closes, each department once.
    EXPECT_EQ(dm.FindDepParents(61), "60,62,61");
    EXPECT_EQ(dm.FindDepParents(60), "62,61,60");
}

TEST_F(DepartmentTreeTest, ReadingAtOnceGivesTheNodesOfReadingPerParentNode)
{
    const struct {
        const char* name;
        const testsupport::FirebirdTestDb* db;
        const char* list;
    } rows[] = {
        {"small", small.get(), "5,x,12,99,1"},
        {"deep", deep.get(), "3,10"},
        {"rootless", rootless.get(), "1,2"},
        {"cyclic", cyclic.get(), "51,60"},
        {"generated", generated.get(), "4,x,17,,9999,40,2,23"},
        {"textual positions", textualPos.get(), "1,9"},
    };
    for (const auto& row : rows) {
        use(*row.db);
        for (const bool all : {true, false}) {
            servicestest::BuildTreeByQueries(dm, view, all, row.list);
            const Lines expected = everything();
            dm.BuildTree(view, all, row.list);
            EXPECT_EQ(everything(), expected) << row.name << (all ? " whole" : " listed");
        }
        for (int code = 0; code <= 160; ++code)
            ASSERT_EQ(dm.FindDepChild(code), servicestest::FindDepChildByQueries(dm, code)) << row.name << " " << code;
    }
}

TEST_F(DepartmentTreeTest, ListedDepartmentsWithTheirBranches)
{
    use(*small);
    const struct {
        const char* name;
        const char* list;
        Lines tree;
    } rows[] = {
        {"non-numeric item skipped", "5,x,7", {"Склад #5", "  Экспедиция #7", "Экспедиция #7"}},
        {"branch levels", "12", {"Цех #12", "  Бригада #21", "  Участок #20", "    Смена #30", "   #77"}},
        {"empty list", "", {}},
        {"empty items and a missing department", ",,1000,", {}},
        {"branch of an unknown code below the last department found",
         "5,99,40",
         {"Склад #5", "  Экспедиция #7", "  Сирота #8", "Гараж #40"}},
        {"branch of an unknown code at the top before any is found",
         "99,5",
         {"Сирота #8", "Склад #5", "  Экспедиция #7"}},
        {"out of range and signed items", "99999999999,-5,+5,5 ,20", {"Участок #20", "  Смена #30"}},
    };
    for (const auto& row : rows) {
        dm.BuildTree(view, false, row.list);
        EXPECT_EQ(tree(), row.tree) << row.name;
    }
    EXPECT_TRUE(messages.texts().empty());
    expectAllQueriesClosed();
}

TEST_F(DepartmentTreeTest, CodesAboveAndBelowADepartment)
{
    use(*small);
    const struct {
        int code;
        const char* parents;
        const char* children;
    } rows[] = {
        {30, "20,12,3,0", "30"},
        {20, "12,3,0", "20,30"},
        {3, "0", "3,12,21,20,30"}, // the link to 77 has no department: left out
        {7, "5,", "7"},            // a null parent reads as an empty last item
        {40, "", "40"},
        {1000, "", "1000"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(dm.FindDepParents(row.code), row.parents) << row.code;
        EXPECT_EQ(dm.FindDepChild(row.code), row.children) << row.code;
    }
    expectAllQueriesClosed();
}

TEST_F(DepartmentTreeTest, FindDepChildWalksAQueryTheCallerOpened)
{
    use(*small);
    dm.QDepChild.Param(0).SetInteger(12);
    dm.QDepChild.Open();
    dm.QDepChild.Next();
    EXPECT_EQ(dm.FindDepChild(3), "3,20,30") << "from the current row of 12's children";
    EXPECT_FALSE(dm.QDepChild.Active());
    EXPECT_EQ(dm.FindDepChild(3), "3,12,21,20,30");
}

TEST_F(DepartmentTreeTest, ShortNames)
{
    use(*small);
    EXPECT_EQ(dm.FindDep(12), testsupport::ansi("Цех"));
    EXPECT_EQ(dm.FindDep(77), "");
    EXPECT_EQ(dm.FindJob(5), testsupport::ansi("Токарь"));
    EXPECT_EQ(dm.FindJob(12), "");
    expectAllQueriesClosed();
}

TEST_F(DepartmentTreeTest, DatabaseErrorsReachTheCallerExceptInTheListWalk)
{
    use(*small);
    dm.FDconUrv.OnStatement = [](TDbStatement&) { throw TDbError("connection lost"); };
    EXPECT_THROW(dm.BuildTree(view, true, ""), TDbError);
    EXPECT_THROW(dm.FindDepChild(3), TDbError);
    EXPECT_THROW(dm.FindDepParents(3), TDbError);
    EXPECT_THROW(dm.FindDep(3), TDbError);
    EXPECT_THROW(dm.FindJob(5), TDbError);
    dm.BuildTree(view, false, "3,5");
    EXPECT_TRUE(tree().empty());
    expectAllQueriesClosed();

    // One failing item costs only that item.
    int seen = 0;
    dm.FDconUrv.OnStatement = [&seen](TDbStatement& s) {
        if (s.SQL.find("DEPARTM") != std::string::npos && ++seen == 1)
            throw TDbError("deadlock");
    };
    dm.BuildTree(view, false, "20,5");
    EXPECT_EQ(tree(), (Lines{"Склад #5", "  Экспедиция #7"}));
}

} // namespace
