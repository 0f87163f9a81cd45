// Fixed-length text read through the query layer on an embedded Firebird
// database: CHAR loses its padding blanks, VARCHAR keeps every character.
#include "db/DbQuery.h"
#include "db/DbStoredProc.h"
#include "tests/support/AnsiText.h"
#include "tests/support/FirebirdTestDb.h"

#include <gtest/gtest.h>

namespace {

class FixedLengthText : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> db;

    static void SetUpTestSuite()
    {
        db = std::make_unique<testsupport::FirebirdTestDb>();
        db->execute("create table T (ID integer, C char(20), NC nchar(6), V varchar(20), CO char(4) character set "
                    "WIN1251)");
        db->execute("create procedure P returns (C char(8), V varchar(8)) as begin C = 'ab'; V = 'ab '; suspend; end");
    }
    static void TearDownTestSuite() { db.reset(); }

    FixedLengthText()
    {
        connection.DriverName = "FB";
        connection.Params = {"DriverID=FB", "Database=" + db->path().string(), "User_Name=SYSDBA",
                             "Password=" + testsupport::embeddedPassword(), "Server="};
        connection.Open();
    }

    TDbConnection connection;
};

TEST_F(FixedLengthText, CharLosesTrailingBlanksAndVarcharKeepsThem)
{
    struct Row {
        const char* name;
        const char* values; // the SQL values of C, NC, V, CO
        std::string c, nc, v, co;
    };
    const Row rows[] = {
        {"plain", "'/srv/Release.rar', 'abc', '/srv/Release.rar', 'x'", "/srv/Release.rar", "abc", "/srv/Release.rar",
         "x"},
        {"trailing blanks", "'a  ', 'b ', 'a  ', 'c '", "a", "b", "a  ", "c"},
        {"leading and inner blanks stay", "' a b', ' c', ' a b ', ' d'", " a b", " c", " a b ", " d"},
        {"only blanks", "'   ', ' ', '   ', ' '", "", "", "   ", ""},
        {"empty", "'', '', '', ''", "", "", "", ""},
        {"Cyrillic", "'Выпуск ', 'Ja ', 'Выпуск ', 'Жж '", "Выпуск", "Ja", "Выпуск ", "Жж"},
        {"NULL", "null, null, null, null", "", "", "", ""},
    };
    int id = 0;
    for (const Row& row : rows) {
        ++id;
        db->execute("insert into T values (" + std::to_string(id) + ", " + row.values + ")");
        TDbQuery query(connection, nullptr, nullptr, "select * from T where ID = " + std::to_string(id));
        query.Open();
        ASSERT_FALSE(query.Eof()) << row.name;
        EXPECT_EQ(query.FieldByName("C").AsString(), testsupport::ansi(row.c)) << row.name;
        EXPECT_EQ(query.FieldByName("NC").AsString(), testsupport::ansi(row.nc)) << row.name;
        EXPECT_EQ(query.FieldByName("V").AsString(), testsupport::ansi(row.v)) << row.name;
        EXPECT_EQ(query.FieldByName("CO").AsString(), testsupport::ansi(row.co)) << row.name;
        query.Close();
    }
}

TEST_F(FixedLengthText, StoredProcedureOutputsAreTrimmedTheSameWay)
{
    TDbStoredProc proc(connection, nullptr, nullptr, "P",
                       {TDbParam("C", TDbParamDirection::Output), TDbParam("V", TDbParamDirection::Output)});
    proc.ExecProc();
    EXPECT_EQ(proc.ParamByName("C").AsString(), "ab");
    EXPECT_EQ(proc.ParamByName("V").AsString(), "ab ");
}

} // namespace
