#include "datamodule/MDm.h"

#include "platform/RecordingMessages.h"
#include "tests/services/ServicesDb.h"
#include "tests/support/AnsiText.h"

#include <QDate>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using servicestest::committedValue;
using servicestest::connectEmbedded;

namespace {

class QueriesTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> urv;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> gremond;

    static void SetUpTestSuite()
    {
        urv = std::make_unique<testsupport::FirebirdTestDb>();
        for (const char* sql : {
                 "create table DEPARTM (CODE integer, NAIM_K varchar(50), NAIM_D varchar(100))",
                 "create table STRUCTURE (PARENT_ID integer, CHILD_ID integer, POS integer)",
                 "create table JOBS (CODE integer, NAIM_K varchar(50))",
                 "insert into DEPARTM values (1, 'Цех', 'Цех номер один')",
                 "insert into DEPARTM values (2, 'Склад', 'Центральный склад')",
                 "insert into DEPARTM values (3, 'Участок', 'Участок сборки')",
                 "insert into STRUCTURE values (0, 1, 2)",
                 "insert into STRUCTURE values (null, 2, 1)",
                 "insert into STRUCTURE values (1, 3, 1)",
                 "insert into JOBS values (5, 'Токарь')",
             })
            urv->execute(sql);
        gremond = std::make_unique<testsupport::FirebirdTestDb>();
        for (const char* sql : {
                 "create table CLITYPES (CLI_KIND integer, INDICATION varchar(20))",
                 "create table PERSONNEL (USER_ID integer, TABN varchar(20), NUM varchar(20))",
                 "create table DEPARTMENT (CODE integer, NAME varchar(60), FULL_NAME varchar(120), DATE_START date)",
                 "create table PROFESSION (PROFESSION_ID integer, NAME varchar(60), FULL_NAME varchar(120), "
                 "DATE_START date)",
                 "create table AlienOrg (ORG_ID integer, NAME varchar(60))",
                 "insert into CLITYPES values (1, 'Сотрудник')",
                 "insert into PERSONNEL values (7, '0042', 'N-9')",
                 "insert into DEPARTMENT values (20, 'Склад', 'Склад', '2020-01-01')",
                 "insert into PROFESSION values (30, 'Токарь ', 'Токарь', '2020-01-01')",
                 "insert into AlienOrg values (40, 'ООО Ромашка')",
             })
            gremond->execute(sql);
    }
    static void TearDownTestSuite()
    {
        urv.reset();
        gremond.reset();
    }

    platform::RecordingMessages messages;
    TMainDM dm{messages};

    TDmQueryEntry entry(const std::string& name)
    {
        for (const TDmQueryEntry& e : dm.QueryComponents())
            if (e.Name == name)
                return e;
        ADD_FAILURE() << "no component " << name;
        return {};
    }
};

TEST_F(QueriesTest, EveryComponentIsCreatedClosedUnderItsOwnName)
{
    const std::vector<TDmQueryEntry> all = dm.QueryComponents();
    std::set<std::string> names;
    int queries = 0;
    int procs = 0;
    for (const TDmQueryEntry& e : all) {
        EXPECT_TRUE(names.insert(std::string(e.Name)).second) << "twice: " << e.Name;
        if (e.Query) {
            ++queries;
            EXPECT_FALSE(e.Query->Active()) << e.Name;
        } else {
            ++procs;
            ASSERT_NE(e.StoredProc, nullptr) << e.Name;
        }
    }
    EXPECT_EQ(queries, 69) << "QParam and the 68 further queries";
    EXPECT_EQ(procs, 2);
    EXPECT_EQ(all.front().Query, &dm.QParam);
}

TEST_F(QueriesTest, TransactionsBelongToTheQuerysConnection)
{
    for (const TDmQueryEntry& e : dm.QueryComponents()) {
        TDbConnection& connection = e.Query ? e.Query->Connection : e.StoredProc->Connection;
        TDbTransaction* read = e.Query ? e.Query->Transaction : e.StoredProc->Transaction;
        TDbTransaction* update = e.Query ? e.Query->UpdateTransaction : e.StoredProc->UpdateTransaction;
        EXPECT_TRUE(&connection == &dm.FDconUrv || &connection == &dm.FDconGremond) << e.Name;
        if (read) {
            EXPECT_EQ(&read->Connection, &connection) << e.Name;
        }
        if (update) {
            EXPECT_EQ(&update->Connection, &connection) << e.Name;
        }
    }
}

TEST_F(QueriesTest, BindingsOfTheComponentsTheServicesUse)
{
    TDbTransaction* none = nullptr;
    const struct {
        const char* name;
        TDbConnection* connection;
        TDbTransaction* read;
        TDbTransaction* update;
    } rows[] = {
        {"QTmp", &dm.FDconUrv, &dm.FDTrUrvQ, &dm.FDTrUrvQ},
        {"pGenU", &dm.FDconUrv, &dm.FDTrUrvQ, &dm.FDTrUrvQ},
        {"QTmpK", &dm.FDconGremond, &dm.FDTrGremondQ, &dm.FDTrGremondQ},
        {"pGenK", &dm.FDconGremond, &dm.FDTrGremondQ, &dm.FDTrGremondQ},
        {"QRoot", &dm.FDconUrv, &dm.FDTrUrvSel, none},
        {"QHld", &dm.FDconUrv, none, none},
        {"QIdTp", &dm.FDconGremond, &dm.FDTrGremondSel, &dm.FDTrGremondQ},
        {"QInsDepK", &dm.FDconGremond, &dm.FDTrGremondQ, &dm.FDTrGremondQ},
        {"QBound", &dm.FDconUrv, &dm.FDTrUrvSel, &dm.FDTrUrvQ},
        {"QSfromDep", &dm.FDconUrv, none, none},
        {"QEndPHist", &dm.FDconUrv, &dm.FDTrUrvQ, &dm.FDTrUrvQ},
        {"QDoor", &dm.FDconGremond, &dm.FDTrGremondSel, none},
        {"QZKind", &dm.FDconGremond, &dm.FDTrGremondSel, &dm.FDTrGremondQ},
    };
    for (const auto& row : rows) {
        const TDmQueryEntry e = entry(row.name);
        if (e.Query) {
            EXPECT_EQ(&e.Query->Connection, row.connection) << row.name;
            EXPECT_EQ(e.Query->Transaction, row.read) << row.name;
            EXPECT_EQ(e.Query->UpdateTransaction, row.update) << row.name;
        } else if (e.StoredProc) {
            EXPECT_EQ(&e.StoredProc->Connection, row.connection) << row.name;
            EXPECT_EQ(e.StoredProc->Transaction, row.read) << row.name;
            EXPECT_EQ(e.StoredProc->UpdateTransaction, row.update) << row.name;
        }
    }
    EXPECT_EQ(dm.pGenU.StoredProcName, "GetGenValue");
    EXPECT_EQ(dm.pGenK.StoredProcName, "GetIdObject");
    EXPECT_EQ(dm.QHld.SQL, "select N from HLDTAB where\n(M=:pm) and (D=:pd)");
    EXPECT_EQ(dm.QF_ID.SQL, "select USER_ID from PERSONNEL\nwhere NUM=:pTN\n");
    EXPECT_TRUE(dm.QTmp.SQL.empty());
    EXPECT_TRUE(dm.QTmpK.SQL.empty());
}

// Each query with a text of its own runs against tables of the shape the
// services read, its named parameters bound by name.
TEST_F(QueriesTest, LookupsRunOnTheirDatabaseWithTheirParameters)
{
    connectEmbedded(dm.FDconUrv, *urv);
    connectEmbedded(dm.FDconGremond, *gremond);
    const struct {
        const char* name;
        std::map<std::string, QVariant> params;
        const char* field;
        std::vector<std::string> values; // of `field`, row by row
    } rows[] = {
        {"QRoot", {}, "CHILD_ID", {"2", "1"}},
        {"QParents", {{"pRoot", 1}}, "NAIM_K", {"Участок"}},
        {"QBranch", {{"pFCh", 1}}, "CHILD_ID", {"3"}},
        {"QDepByCod", {}, "NAIM_K", {"Цех", "Склад", "Участок"}},
        {"QFindDep", {{"pCod", 2}}, "NAIM_D", {"Центральный склад"}},
        {"QDepChild", {{"pPar", 1}}, "NAIM_K", {"Участок"}},
        {"QDepParents", {{"pDep", 3}}, "PARENT_ID", {"1"}},
        {"QFDep", {{"pdep", 3}}, "NAIM_K", {"Участок"}},
        {"QFJob", {{"pjob", 5}}, "NAIM_K", {"Токарь"}},
        {"QFJob", {{"pjob", 6}}, "NAIM_K", {}},
        {"QIdTp", {{"pCd", 1}}, "INDICATION", {"Сотрудник"}},
        {"QF_UID", {{"pTN", "0042"}}, "USER_ID", {"7"}},
        {"QF_ID", {{"pTN", "N-9"}}, "USER_ID", {"7"}},
        {"QFDepK", {{"pNM", " Склад "}, {"pN", "Склад"}}, "CODE", {"20"}},
        {"QFJobK", {{"pNM", "Токарь "}, {"pN", "Токарь"}}, "PROFESSION_ID", {"30"}},
        {"QFOrgK", {{"pNM", "ООО Ромашка"}, {"pN", "ООО Ромашка"}}, "ORG_ID", {"40"}},
    };
    for (const auto& row : rows) {
        TDbQuery* query = entry(row.name).Query;
        ASSERT_NE(query, nullptr) << row.name;
        for (const auto& [name, value] : row.params)
            query->ParamByName(name).Value = value;
        ASSERT_NO_THROW(query->Open()) << row.name;
        std::vector<std::string> values;
        for (; !query->Eof(); query->Next())
            values.push_back(query->FieldByName(row.field).AsString());
        query->Close();
        std::vector<std::string> expected; // as the program's 8-bit text holds them
        for (const std::string& value : row.values)
            expected.push_back(testsupport::ansi(value));
        EXPECT_EQ(values, expected) << row.name;
    }
}

TEST_F(QueriesTest, InsertsFillNameAndFullNameFromTheOneParameter)
{
    connectEmbedded(dm.FDconGremond, *gremond);
    const struct {
        TDbQuery* query;
        const char* check;
    } rows[] = {
        {&dm.QInsDepK, "select NAME || '|' || FULL_NAME || '|' || DATE_START as V from DEPARTMENT where CODE=77"},
        {&dm.QInsJobK,
         "select NAME || '|' || FULL_NAME || '|' || DATE_START as V from PROFESSION where PROFESSION_ID=77"},
    };
    for (const auto& row : rows) {
        row.query->ParamByName("pCD").SetInteger(77);
        row.query->ParamByName("pN").SetString(" Новый отдел ");
        row.query->ParamByName("pDt").Value = QDate(2024, 3, 15);
        ASSERT_NO_THROW(row.query->Open()) << row.query->SQL;
        row.query->Close();
        EXPECT_EQ(committedValue(*gremond, row.check), " Новый отдел | Новый отдел |2024-03-15");
    }
}

TEST_F(QueriesTest, AParameterTheTextDoesNotHaveIsAnError)
{
    EXPECT_THROW(dm.QHld.ParamByName("py"), TDbError);
    EXPECT_THROW(dm.QHld.Param(2), TDbError);
    EXPECT_EQ(dm.QFindDep.Param(0).Name, "pCod");
    EXPECT_THROW(dm.pGenU.Param(3), TDbError);
}

} // namespace
