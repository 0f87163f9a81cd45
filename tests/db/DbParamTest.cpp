#include "db/DbParam.h"
#include "db/DbConnection.h"
#include "db/DbStoredProc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(SqlParams, NamedParametersAndTheirPositionalForm)
{
    const struct {
        const char* name;
        const char* sql;
        std::vector<std::string> names;
        const char* positional;
        std::vector<std::string> occurrences;
    } rows[] = {
        {"none", "select * from RDB$DATABASE", {}, "select * from RDB$DATABASE", {}},
        {"two",
         "select N from HLDTAB where\n(M=:pm) and (D=:pd)",
         {"pm", "pd"},
         "select N from HLDTAB where\n(M=?) and (D=?)",
         {"pm", "pd"}},
        {"one name twice",
         "values (:pCD, :pN, :pN, :pDt)",
         {"pCD", "pN", "pDt"},
         "values (?, ?, ?, ?)",
         {"pCD", "pN", "pN", "pDt"}},
        {"names differ only in case", "where A=:pN or B=:pn", {"pN"}, "where A=? or B=?", {"pN", "pn"}},
        {"colons in quotes",
         "select ':no', \":no\" from T where X=:yes",
         {"yes"},
         "select ':no', \":no\" from T where X=?",
         {"yes"}},
        {"double colon and times",
         "select CAST(X AS TIME)::text, a:b from T where T=:p",
         {"p"},
         "select CAST(X AS TIME)::text, a:b from T where T=?",
         {"p"}},
        {"unclosed quote", "select 'a:b", {}, "select 'a:b", {}},
        {"colon at the end", "select :", {}, "select :", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(sqlParamNames(row.sql), row.names) << row.name;
        std::vector<std::string> occurrences;
        EXPECT_EQ(sqlPositional(row.sql, occurrences), row.positional) << row.name;
        EXPECT_EQ(occurrences, row.occurrences) << row.name;
    }
}

TEST(SqlParams, IntegerValuesAndTheirErrors)
{
    TDbParam p("@oNV", TDbParamDirection::InputOutput);
    EXPECT_THROW(p.AsInteger(), TDbError) << "null";
    p.SetInteger(42);
    EXPECT_EQ(p.AsInteger(), 42);
    p.SetString("12a");
    EXPECT_THROW(p.AsInteger(), TDbError);
    p.SetString("Отдел");
    EXPECT_EQ(p.AsString(), "Отдел");
}

TEST(StoredProcCallText, TheCallFormOfEachDatabaseSystem)
{
    const std::vector<TDbParam> withResult{TDbParam("@RETURN_VALUE", TDbParamDirection::Result),
                                           TDbParam("@iGenN", TDbParamDirection::Input),
                                           TDbParam("@oNV", TDbParamDirection::InputOutput)};
    const std::vector<TDbParam> outputOnly{TDbParam("X", TDbParamDirection::Output)};
    const struct {
        const char* driver;
        const std::vector<TDbParam>* params;
        const char* text;
    } rows[] = {
        {"FB", &withResult, "execute procedure GetGenValue(?, ?)"},
        {"MSSQL", &withResult, "{? = call GetGenValue(?, ?)}"},
        {"Ora", &withResult, "begin ? := GetGenValue(?, ?); end;"},
        {"FB", &outputOnly, "execute procedure GetGenValue"},
        {"MSSQL", &outputOnly, "{call GetGenValue(?)}"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(storedProcCallText(row.driver, "GetGenValue", *row.params), row.text) << row.driver;
}
