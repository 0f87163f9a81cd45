// Personnel synchronisation against an embedded Firebird database standing in
// for the access-control database. Each test works on persons and names of
// its own, and reads results through a connection of its own, so that only
// committed data counts.
#include "datamodule/MDm.h"

#include "platform/RecordingMessages.h"
#include "platform/TextCodec.h"
#include "tests/services/ServicesDb.h"
#include "tests/support/AnsiText.h"

#include <QDate>

#include <gtest/gtest.h>

#include <memory>
#include <string>

using servicestest::committedValue;
using servicestest::connectEmbedded;

namespace {

class PersonnelSyncTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> gremond;

    static void SetUpTestSuite()
    {
        gremond = std::make_unique<testsupport::FirebirdTestDb>();
        for (const char* sql : {
                 "create table CLITYPES (CLI_KIND integer, INDICATION varchar(10))",
                 "create table PERSONNEL (USER_ID integer, TABN varchar(20), NUM varchar(20), DEPARTMENT_ID integer, "
                 "PROFESSION_ID integer, ORG_ID integer, JOB varchar(40))",
                 "create table DEPARTMENT (CODE integer, NAME varchar(60), FULL_NAME varchar(120), DATE_START date)",
                 "create table PROFESSION (PROFESSION_ID integer, NAME varchar(60), FULL_NAME varchar(120), "
                 "DATE_START date)",
                 "create table AlienOrg (ORG_ID integer, NAME varchar(60))",
                 "create generator DJ_GEN",
                 "set generator DJ_GEN to 100",
                 "create generator GEN_DEP",
                 "set generator GEN_DEP to 500",
                 "create generator GEN_JOB",
                 "set generator GEN_JOB to 700",
                 "execute block as begin\n"
                 "insert into CLITYPES values (1, '1');\n"
                 "insert into CLITYPES values (2, '0');\n"
                 "insert into CLITYPES values (3, null);\n"
                 "insert into CLITYPES values (4, '1 ');\n"
                 "insert into PERSONNEL (USER_ID, TABN, NUM) values (7, '0042', 'N-9');\n"
                 "insert into DEPARTMENT values (20, 'Склад', 'Склад', '2020-01-01');\n"
                 "insert into DEPARTMENT values (21, ' Цех ', ' Цех ', '2020-01-01');\n"
                 "insert into PROFESSION values (30, 'Токарь', 'Токарь', '2020-01-01');\n"
                 "insert into AlienOrg values (40, 'ООО Ромашка');\n"
                 "end",
             })
            gremond->execute(sql);
    }
    static void TearDownTestSuite() { gremond.reset(); }

    platform::RecordingMessages messages;
    TMainDM dm{messages};

    void SetUp() override
    {
        connectEmbedded(dm.FDconGremond, *gremond);
        urvDB = "FB";
        gremondDB = "FB";
    }
    void TearDown() override
    {
        EXPECT_FALSE(dm.FDTrGremondQ.Active()) << "every call ends its transaction";
        for (const TDmQueryEntry& e : dm.QueryComponents())
            if (e.Query) {
                EXPECT_FALSE(e.Query->Active()) << e.Name;
            }
        EXPECT_TRUE(messages.texts().empty());
        urvDB.clear();
        gremondDB.clear();
    }

    static void addPerson(int uid)
    {
        gremond->execute("insert into PERSONNEL (USER_ID) values (" + std::to_string(uid) + ")");
    }
    // Statements and values in UTF-8, as the test's texts are written; the
    // queries take and give the ANSI code page's.
    static std::string value(const std::string& select)
    {
        return platform::toUtf8(platform::ansiToUtf16(committedValue(*gremond, testsupport::ansi(select))));
    }
    static std::string person(int uid, const std::string& column)
    {
        return value("select coalesce(cast(" + column + " as varchar(60)), '<null>') as V from PERSONNEL where USER_ID=" +
                     std::to_string(uid));
    }
    static std::string today() { return QDate::currentDate().toString(Qt::ISODate).toStdString(); }
};

TEST_F(PersonnelSyncTest, FindUserIdLooksInTabnForOwnPeopleAndInNumForOthers)
{
    const struct {
        bool own;
        const char* number;
        int expected;
    } rows[] = {
        {true, "0042", 7}, {false, "N-9", 7}, {true, "N-9", -1}, {false, "0042", -1}, {true, "", -1},
    };
    for (const auto& row : rows)
        EXPECT_EQ(dm.FindUserID(row.own, row.number), row.expected) << row.own << " " << row.number;

    dm.FDconGremond.Close();
    EXPECT_EQ(dm.FindUserID(true, "0042"), -1) << "a failure reads as not found";
}

TEST_F(PersonnelSyncTest, ChAlienIsTrueOnlyForIndicationOneOrWhenItCannotTell)
{
    const struct {
        int kind;
        bool expected;
    } rows[] = {{1, true}, {2, false}, {3, false}, {4, false}, {9, false}};
    for (const auto& row : rows)
        EXPECT_EQ(dm.ChAlien(row.kind), row.expected) << row.kind;

    dm.FDconGremond.Close();
    EXPECT_TRUE(dm.ChAlien(2));
}

TEST_F(PersonnelSyncTest, ExistingDepartmentsAndProfessionsAreFoundAsGivenOrTrimmed)
{
    const std::string departments = value("select count(*) as V from DEPARTMENT");
    const std::string professions = value("select count(*) as V from PROFESSION");
    const struct {
        const char* name;
        int uid;
        const char* department;
    } rows[] = {
        {"Склад", 201, "20"},
        {" \tСклад\r\n", 202, "20"}, // only the trimmed text matches
        {" Цех ", 203, "21"},        // stored with its blanks, matched as given
    };
    for (const auto& row : rows) {
        addPerson(row.uid);
        dm.ChDepInCM(testsupport::ansi(row.name), row.uid, true);
        EXPECT_EQ(person(row.uid, "DEPARTMENT_ID"), row.department) << row.name;
    }
    addPerson(204);
    dm.ChJobInCM(testsupport::ansi("  Токарь "), 204, true);
    EXPECT_EQ(person(204, "PROFESSION_ID"), "30");

    EXPECT_EQ(value("select count(*) as V from DEPARTMENT"), departments) << "nothing inserted";
    EXPECT_EQ(value("select count(*) as V from PROFESSION"), professions);
}

TEST_F(PersonnelSyncTest, MissingNamesAreInsertedUntrimmedUnderAKeyOfTheChosenGenerator)
{
    const struct {
        const char* urv;
        bool department;
        const char* name;
        int uid;
        const char* generator;
    } rows[] = {
        {"FB", true, "  Новый отдел ", 211, "DJ_GEN"},
        {"MSSQL", true, "Отдел продаж", 212, "GEN_DEP"},
        {"Ora", false, "Фрезеровщик ", 213, "DJ_GEN"},
        {"MSSQL", false, "Сварщик", 214, "GEN_JOB"},
    };
    for (const auto& row : rows) {
        urvDB = row.urv;
        addPerson(row.uid);
        const int key =
            std::stoi(value(std::string("select GEN_ID(") + row.generator + ", 0) + 1 as V from RDB$DATABASE"));
        if (row.department)
            dm.ChDepInCM(testsupport::ansi(row.name), row.uid, true);
        else
            dm.ChJobInCM(testsupport::ansi(row.name), row.uid, true);
        const std::string table = row.department ? "DEPARTMENT" : "PROFESSION";
        const std::string keyColumn = row.department ? "CODE" : "PROFESSION_ID";
        const std::string where = " from " + table + " where " + keyColumn + "=" + std::to_string(key);
        EXPECT_EQ(value("select NAME as V" + where), row.name) << row.name;
        EXPECT_EQ(value("select FULL_NAME as V" + where), row.name) << row.name;
        EXPECT_EQ(value("select DATE_START as V" + where), today()) << row.name;
        EXPECT_EQ(person(row.uid, row.department ? "DEPARTMENT_ID" : "PROFESSION_ID"), std::to_string(key)) << row.name;
    }
}

TEST_F(PersonnelSyncTest, AKeyOfZeroIsInsertedButThePersonKeepsTheOldValue)
{
    gremondDB = ""; // no supported system: the generator gives 0
    addPerson(221);
    dm.ChDepInCM(testsupport::ansi("Без ключа"), 221, true);
    EXPECT_EQ(value("select CODE as V from DEPARTMENT where NAME='Без ключа'"), "0");
    EXPECT_EQ(person(221, "DEPARTMENT_ID"), "<null>");
}

TEST_F(PersonnelSyncTest, AFailureRollsBackSilentlyAfterPendingWorkWasCommitted)
{
    const struct {
        const char* failingStatement;
        bool departmentStays;
    } rows[] = {
        {"select CODE from DEPARTMENT", false},
        {"GEN_ID", false},
        {"insert into DEPARTMENT", false},
        // The person is updated in a transaction of its own, after the new department is committed.
        {"update PERSONNEL", true},
    };
    int uid = 230;
    for (const auto& row : rows) {
        ++uid;
        addPerson(uid);
        const std::string name = "Отдел " + std::to_string(uid);
        const std::string pending = "Организация " + std::to_string(uid);
        dm.FDTrGremondQ.StartTransaction();
        dm.FDconGremond.ExecSQL(testsupport::ansi("insert into AlienOrg values (" + std::to_string(uid) + ", '" + pending + "')"));
        dm.FDconGremond.OnStatement = [&row](TDbStatement& s) {
            if (s.SQL.find(row.failingStatement) != std::string::npos)
                throw TDbError("lock conflict");
        };
        dm.ChDepInCM(testsupport::ansi(name), uid, true);
        dm.FDconGremond.OnStatement = nullptr;
        EXPECT_EQ(value("select count(*) as V from AlienOrg where NAME='" + pending + "'"), "1")
            << row.failingStatement;
        EXPECT_EQ(value("select count(*) as V from DEPARTMENT where NAME='" + name + "'"),
                  row.departmentStays ? "1" : "0")
            << row.failingStatement;
        EXPECT_EQ(person(uid, "DEPARTMENT_ID"), "<null>") << row.failingStatement;
    }
}

TEST_F(PersonnelSyncTest, OutsideOrganisationsAreLookedUpButNeverCreated)
{
    addPerson(241);
    dm.ChDepInCM(testsupport::ansi("  ООО Ромашка "), 241, false);
    EXPECT_EQ(person(241, "ORG_ID"), "40");

    addPerson(242);
    const std::string orgs = value("select count(*) as V from AlienOrg");
    dm.ChDepInCM(testsupport::ansi("ООО Лютик"), 242, false);
    EXPECT_EQ(person(242, "ORG_ID"), "<null>");
    EXPECT_EQ(value("select count(*) as V from AlienOrg"), orgs);

    dm.FDconGremond.OnStatement = [](TDbStatement& s) {
        if (s.SQL.find("AlienOrg") != std::string::npos)
            throw TDbError("table AlienOrg is locked");
    };
    EXPECT_THROW(dm.ChDepInCM(testsupport::ansi("ООО Ромашка"), 242, false), TDbError) << "a failed lookup reaches the caller";
}

TEST_F(PersonnelSyncTest, AFreeTextJobReachesJobExactly)
{
    std::vector<TDbStatement> sent;
    dm.FDconGremond.OnStatement = [&sent](TDbStatement& s) { sent.push_back(s); };
    const char* jobs[] = {"Инженер", "", " O'Brien's ", "x' where 1=1 --", "\"кавычки\""};
    int uid = 250;
    for (const char* job : jobs) {
        addPerson(++uid);
        dm.ChJobInCM(testsupport::ansi(job), uid, false);
        EXPECT_EQ(person(uid, "JOB"), job);
        ASSERT_FALSE(sent.empty());
        EXPECT_EQ(sent.back().SQL.find(job[0] ? job : "''"), std::string::npos) << "the text goes as a parameter";
    }
    EXPECT_EQ(value("select count(*) as V from PERSONNEL where JOB is not null"), std::to_string(std::size(jobs)));

    // Longer than the column: the database refuses, nothing changes, nothing is passed on.
    dm.ChJobInCM(std::string(80, 'x'), uid, false);
    EXPECT_EQ(person(uid, "JOB"), "\"кавычки\"");
}

} // namespace
