// The department tree of 5,000 departments six levels deep in an embedded
// Firebird database: BuildTree of the whole hierarchy and FindDepChild of the
// top department, against one select of all STRUCTURE rows joined with
// DEPARTM measured in the same run. Also times the reading with one query per
// parent node, for the statement counts. See bench/README.md.
#include "datamodule/MDm.h"
#include "platform/RecordingMessages.h"
#include "platform/qt/QtTreeView.h"
#include "tests/services/DepartmentTreeByQueries.h"
#include "tests/services/ServicesDb.h"

#include <QApplication>
#include <QSqlQuery>
#include <QTreeWidget>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Departments per level, top first: 5,000 in all.
const std::vector<int> LevelSizes{1, 10, 60, 400, 1400, 3129};

void fill(const testsupport::FirebirdTestDb& db)
{
    db.execute("create table DEPARTM (CODE integer not null primary key, NAIM_K varchar(50), NAIM_D varchar(100))");
    db.execute("create table STRUCTURE (PARENT_ID integer, CHILD_ID integer, POS integer)");
    db.execute("create index STRUCTURE_PARENT on STRUCTURE (PARENT_ID)");
    db.execute("create index STRUCTURE_CHILD on STRUCTURE (CHILD_ID)");
    TDbConnection connection;
    servicestest::connectEmbedded(connection, db);
    QSqlDatabase database = connection.Database();
    database.transaction();
    QSqlQuery department(database);
    department.prepare("insert into DEPARTM values (?, ?, ?)");
    QSqlQuery link(database);
    link.prepare("insert into STRUCTURE values (?, ?, ?)");
    int code = 0;
    int previousStart = 0;
    for (size_t level = 0; level < LevelSizes.size(); ++level) {
        const int start = code + 1;
        for (int i = 0; i < LevelSizes[level]; ++i) {
            ++code;
            department.addBindValue(code);
            department.addBindValue(QString("Подразделение %1").arg(code));
            department.addBindValue(QString("Подразделение номер %1 уровня %2").arg(code).arg(level + 1));
            department.exec();
            const int parentCount = level == 0 ? 1 : LevelSizes[level - 1];
            link.addBindValue(level == 0 ? 0 : previousStart + i % parentCount);
            link.addBindValue(code);
            link.addBindValue(i / parentCount + 1);
            link.exec();
        }
        previousStart = start;
    }
    database.commit();
}

double seconds(const std::function<void()>& run)
{
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<std::string> dump(QTreeWidget& widget)
{
    std::vector<std::string> lines;
    for (QTreeWidgetItemIterator it(&widget); *it; ++it)
        lines.push_back((*it)->text(0).toStdString() + "#" +
                        std::to_string(platform::QtTreeView::node(*it)->ImageIndex));
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int runs = std::getenv("RUNS") ? std::max(1, std::atoi(std::getenv("RUNS"))) : 5;

    testsupport::FirebirdTestDb db;
    fill(db);

    platform::RecordingMessages messages;
    TMainDM dm(messages);
    servicestest::connectEmbedded(dm.FDconUrv, db);
    int statements = 0;
    dm.FDconUrv.OnStatement = [&statements](TDbStatement&) { ++statements; };
    QTreeWidget widget;
    platform::QtTreeView view(widget);

    // The three are timed in turn within each run, so that a busy moment of
    // the machine weighs on all of them alike; the best run of each counts.
    long long checksum = 0;
    std::string codes;
    double select = 1e9;
    double tree = 1e9;
    double child = 1e9;
    for (int run = 0; run < runs; ++run) {
        select = std::min(select, seconds([&] {
                              QSqlQuery query(dm.FDconUrv.Database());
                              query.setForwardOnly(true);
                              query.exec("select s.PARENT_ID, s.CHILD_ID, d.NAIM_K from STRUCTURE s left join DEPARTM "
                                         "d on s.CHILD_ID=d.CODE");
                              while (query.next())
                                  checksum += query.value(0).toInt() + query.value(1).toInt() +
                                              query.value(2).toString().size();
                          }));
        tree = std::min(tree, seconds([&] { dm.BuildTree(view, true, ""); }));
        child = std::min(child, seconds([&] { codes = dm.FindDepChild(1); }));
    }

    statements = 0;
    dm.BuildTree(view, true, "");
    const int treeStatements = statements;
    const std::vector<std::string> nodes = dump(widget);

    statements = 0;
    dm.FindDepChild(1);
    const int childStatements = statements;

    // PER_QUERY=0 leaves out the slow readings (for profiling the others).
    const bool perQuery = !std::getenv("PER_QUERY") || std::string(std::getenv("PER_QUERY")) != "0";
    if (!perQuery) {
        std::printf("BuildTree %.4f s (%d statements), FindDepChild %.4f s (%d), select %.4f s\n", tree, treeStatements,
                    child, childStatements, select);
        return 0;
    }
    statements = 0;
    const double treeByQueries = seconds([&] { servicestest::BuildTreeByQueries(dm, view, true, ""); });
    const int treeByQueriesStatements = statements;
    const bool sameTree = dump(widget) == nodes;
    statements = 0;
    std::string codesByQueries;
    const double childByQueries = seconds([&] { codesByQueries = servicestest::FindDepChildByQueries(dm, 1); });
    const int childByQueriesStatements = statements;

    std::printf("departments %zu, nodes %zu, codes listed %zu, best of %d runs (checksum %lld)\n",
                static_cast<size_t>(5000), nodes.size(),
                static_cast<size_t>(std::count(codes.begin(), codes.end(), ',') + 1), runs, checksum);
    std::printf("%-44s %10s %10s %8s\n", "measurement", "seconds", "statements", "ratio");
    std::printf("%-44s %10.4f %10d %8.2f\n", "select STRUCTURE join DEPARTM (reference)", select, 1, 1.0);
    std::printf("%-44s %10.4f %10d %8.2f\n", "BuildTree, whole hierarchy", tree, treeStatements, tree / select);
    std::printf("%-44s %10.4f %10d %8.2f\n", "FindDepChild of the top department", child, childStatements,
                child / select);
    std::printf("%-44s %10.4f %10d %8.2f\n", "BuildTree, one query per parent node (once)", treeByQueries,
                treeByQueriesStatements, treeByQueries / select);
    std::printf("%-44s %10.4f %10d %8.2f\n", "FindDepChild, one query per parent (once)", childByQueries,
                childByQueriesStatements, childByQueries / select);
    std::printf("same nodes: %s, same codes: %s\n", sameTree ? "yes" : "NO", codes == codesByQueries ? "yes" : "NO");
    return sameTree && codes == codesByQueries ? 0 : 1;
}
