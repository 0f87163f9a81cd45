// Key generators and ad-hoc SQL against two embedded Firebird databases, one
// for each connection of the data module. No Oracle or SQL Server runs here:
// their forms are checked by what the data module hands the database layer,
// which a test sees (and may turn into the Firebird form) through the
// connection's statement hook.
#include "datamodule/MDm.h"

#include "platform/RecordingMessages.h"
#include "tests/services/ServicesDb.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using servicestest::committedValue;
using servicestest::connectEmbedded;

namespace {

class KeysSqlTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> urv;
    static inline std::unique_ptr<testsupport::FirebirdTestDb> gremond;

    static void SetUpTestSuite()
    {
        urv = std::make_unique<testsupport::FirebirdTestDb>();
        gremond = std::make_unique<testsupport::FirebirdTestDb>();
        for (auto* db : {urv.get(), gremond.get()}) {
            db->execute("create table T (ID integer not null primary key, NAME varchar(40))");
            db->execute("create table COUNTERS (NAME varchar(30) not null primary key, VAL integer)");
            db->execute("insert into COUNTERS values ('DJ_GEN', 100)");
            // A counter procedure with the shape the product's databases
            // provide: the counter's name in, the next value out.
            db->execute("create procedure GetGenValue (iGenN varchar(30), oNV integer) returns (NV integer) as "
                        "begin update COUNTERS set VAL = VAL + 1 where NAME = :iGenN; "
                        "select VAL from COUNTERS where NAME = :iGenN into :NV; end");
            db->execute("create procedure GetIdObject (iGenN varchar(30), oNV integer) returns (NV integer) as "
                        "begin update COUNTERS set VAL = VAL + 1 where NAME = :iGenN; "
                        "select VAL from COUNTERS where NAME = :iGenN into :NV; end");
        }
        urv->execute("create generator GEN_URV");
        gremond->execute("create generator DJ_GEN");
    }
    static void TearDownTestSuite()
    {
        urv.reset();
        gremond.reset();
    }

    platform::RecordingMessages messages;
    TMainDM dm{messages};
    std::vector<TDbStatement> urvStatements;
    std::vector<TDbStatement> gremondStatements;

    void SetUp() override
    {
        connectEmbedded(dm.FDconUrv, *urv);
        connectEmbedded(dm.FDconGremond, *gremond);
        dm.FDconUrv.OnStatement = [this](TDbStatement& s) { urvStatements.push_back(s); };
        dm.FDconGremond.OnStatement = [this](TDbStatement& s) { gremondStatements.push_back(s); };
        urvDB = "FB";
        gremondDB = "FB";
    }
    void TearDown() override
    {
        urvDB.clear();
        gremondDB.clear();
    }

    static std::string nextFrom(const testsupport::FirebirdTestDb& db, const std::string& generator)
    {
        return committedValue(db, "select GEN_ID(" + generator + ", 0) as V from RDB$DATABASE");
    }
};

TEST_F(KeysSqlTest, FirebirdDrawsTheNextGeneratorValue)
{
    const int first = dm.GetGen("GEN_URV");
    EXPECT_EQ(dm.GetGen("GEN_URV"), first + 1);
    ASSERT_FALSE(urvStatements.empty());
    EXPECT_EQ(urvStatements.back().SQL, "select GEN_ID(GEN_URV, 1) NV from RDB$DATABASE");
    EXPECT_TRUE(dm.QTmp.SQL.empty());
    EXPECT_FALSE(dm.QTmp.Active());

    const int key = dm.GetGenK("DJ_GEN");
    EXPECT_EQ(std::to_string(key), nextFrom(*gremond, "DJ_GEN"));
    EXPECT_EQ(gremondStatements.back().SQL, "select GEN_ID(DJ_GEN, 1) NV from RDB$DATABASE");
    EXPECT_TRUE(dm.QTmpK.SQL.empty());
}

TEST_F(KeysSqlTest, AScratchQueryLeftOpenDoesNotAnswerForTheGenerator)
{
    for (auto [scratch, getGen, db, generator] : {std::tuple{&dm.QTmp, &TMainDM::GetGen, urv.get(), "GEN_URV"},
                                                  std::tuple{&dm.QTmpK, &TMainDM::GetGenK, gremond.get(), "DJ_GEN"}}) {
        scratch->SQL = "select -5 NV from RDB$DATABASE";
        scratch->Open();
        const int value = (dm.*getGen)(generator);
        EXPECT_EQ(std::to_string(value), nextFrom(*db, generator)) << generator;
        EXPECT_FALSE(scratch->Active()) << generator;
        EXPECT_TRUE(scratch->SQL.empty()) << generator;
    }
}

TEST_F(KeysSqlTest, AnUnknownDriverIdentifierGivesZeroAndSendsNothing)
{
    for (const char* identifier : {"", "fb", "Oracle", "MSSQL "}) {
        urvDB = identifier;
        gremondDB = identifier;
        EXPECT_EQ(dm.GetGen("GEN_URV"), 0) << identifier;
        EXPECT_EQ(dm.GetGenK("DJ_GEN"), 0) << identifier;
    }
    EXPECT_TRUE(urvStatements.empty());
    EXPECT_TRUE(gremondStatements.empty());
}

TEST_F(KeysSqlTest, OracleReadsTheSequenceWithTheNameAsItStands)
{
    urvDB = "Ora";
    // The name reaches the server unchanged; here the Firebird form answers.
    dm.FDconUrv.OnStatement = [this](TDbStatement& s) {
        urvStatements.push_back(s);
        s.SQL = "select GEN_ID(GEN_URV, 1) NV from RDB$DATABASE";
    };
    const int value = dm.GetGen("GEN_URV");
    ASSERT_EQ(urvStatements.size(), 1u);
    EXPECT_EQ(urvStatements[0].SQL, "select GEN_URV.Nextval NV from DUAL");
    EXPECT_EQ(std::to_string(value), nextFrom(*urv, "GEN_URV"));

    gremondDB = "Ora";
    dm.FDconGremond.OnStatement = [this](TDbStatement& s) {
        gremondStatements.push_back(s);
        throw TDbError("ORA-02289: sequence does not exist");
    };
    EXPECT_THROW(dm.GetGenK("Seq Name"), TDbError);
    EXPECT_EQ(gremondStatements.back().SQL, "select Seq Name.Nextval NV from DUAL");
    EXPECT_TRUE(dm.QTmpK.SQL.empty()) << "no text left behind for the next call";
}

TEST_F(KeysSqlTest, SqlServerCallsTheCounterProcedureWithNameAndZero)
{
    urvDB = "MSSQL";
    gremondDB = "MSSQL";
    const int before = std::stoi(committedValue(*urv, "select VAL as V from COUNTERS where NAME='DJ_GEN'"));
    EXPECT_EQ(dm.GetGen("DJ_GEN"), before + 1);
    ASSERT_EQ(urvStatements.size(), 1u);
    const TDbStatement& call = urvStatements[0];
    EXPECT_EQ(call.StoredProcName, "GetGenValue");
    ASSERT_EQ(call.Params.size(), 3u);
    EXPECT_EQ(call.Params[1].Name, "@iGenN");
    EXPECT_EQ(call.Params[1].AsString(), "DJ_GEN");
    EXPECT_EQ(call.Params[2].Name, "@oNV");
    EXPECT_EQ(call.Params[2].AsInteger(), 0);

    const int beforeK = std::stoi(committedValue(*gremond, "select VAL as V from COUNTERS where NAME='DJ_GEN'"));
    EXPECT_EQ(dm.GetGenK("DJ_GEN"), beforeK + 1);
    EXPECT_EQ(gremondStatements.back().StoredProcName, "GetIdObject");
    EXPECT_EQ(gremondStatements.back().Params[1].AsString(), "DJ_GEN");
}

TEST_F(KeysSqlTest, GeneratorFailuresReachTheCaller)
{
    EXPECT_THROW(dm.GetGen("NO_SUCH_GEN"), TDbError);
    EXPECT_TRUE(dm.QTmp.SQL.empty());
    EXPECT_GT(dm.GetGen("GEN_URV"), 0) << "the next call is not disturbed";

    // A counter the procedure does not know leaves the value null.
    urvDB = "MSSQL";
    EXPECT_THROW(dm.GetGen("NO_SUCH_COUNTER"), TDbError);

    TMainDM unconnected{messages};
    urvDB = "FB";
    EXPECT_THROW(unconnected.GetGen("GEN_URV"), TDbError);
}

TEST_F(KeysSqlTest, DoSqlRunsAndCommitsTheStatement)
{
    EXPECT_TRUE(dm.DoSQLUrv("insert into T values (1, 'urv')"));
    EXPECT_FALSE(dm.FDTrUrvQ.Active());
    EXPECT_EQ(committedValue(*urv, "select NAME as V from T where ID=1"), "urv");
    EXPECT_EQ(urvStatements.back().SQL, "insert into T values (1, 'urv')");

    EXPECT_TRUE(dm.DoSQLGremond("insert into T values (1, 'gremond')"));
    EXPECT_FALSE(dm.FDTrGremondQ.Active());
    EXPECT_EQ(committedValue(*gremond, "select NAME as V from T where ID=1"), "gremond");
}

TEST_F(KeysSqlTest, ARejectedStatementIsRolledBackAndPendingWorkStaysCommitted)
{
    const struct {
        const char* name;
        TDbConnection* connection;
        TDbTransaction* transaction;
        testsupport::FirebirdTestDb* db;
        bool (TMainDM::*doSql)(const std::string&);
    } rows[] = {
        {"urv", &dm.FDconUrv, &dm.FDTrUrvQ, urv.get(), &TMainDM::DoSQLUrv},
        {"gremond", &dm.FDconGremond, &dm.FDTrGremondQ, gremond.get(), &TMainDM::DoSQLGremond},
    };
    for (const auto& row : rows) {
        row.transaction->StartTransaction();
        row.connection->ExecSQL("insert into T values (10, 'pending')");
        for (const char* bad : {"insert into NO_SUCH_TABLE values (1)", "insert into T values (10, 'duplicate')",
                                "this is not SQL", ""}) {
            EXPECT_FALSE((dm.*row.doSql)(bad)) << row.name << ": " << bad;
            EXPECT_FALSE(row.transaction->Active()) << row.name;
        }
        EXPECT_EQ(committedValue(*row.db, "select NAME as V from T where ID=10"), "pending") << row.name;
        EXPECT_TRUE((dm.*row.doSql)("insert into T values (11, 'after')")) << "the connection still works";
    }
}

TEST_F(KeysSqlTest, DoSqlOnOneDatabaseLeavesTheOthersTransactionAlone)
{
    dm.FDTrGremondQ.StartTransaction();
    dm.FDconGremond.ExecSQL("insert into T values (20, 'not yet')");
    EXPECT_TRUE(dm.DoSQLUrv("insert into T values (20, 'urv')"));
    EXPECT_TRUE(dm.FDTrGremondQ.Active());
    EXPECT_EQ(committedValue(*gremond, "select NAME as V from T where ID=20"), "<none>");
    dm.FDTrGremondQ.Rollback();
}

TEST_F(KeysSqlTest, DoSqlOnAClosedConnectionIsFalseNotAnError)
{
    TMainDM unconnected{messages};
    EXPECT_FALSE(unconnected.DoSQLUrv("insert into T values (30, 'x')"));
    EXPECT_FALSE(unconnected.DoSQLGremond("insert into T values (30, 'x')"));
    EXPECT_TRUE(messages.all().empty()) << "no message from the services";
}

} // namespace

namespace {

struct CountingCursor : TWaitCursor {
    int shown = 0;
    int hidden = 0;
    void Show() override { ++shown; }
    void Hide() override { ++hidden; }
};

TEST_F(KeysSqlTest, StatementsAndProcedureCallsShowTheWaitCursor)
{
    CountingCursor cursor;
    dm.SetWaitCursor(&cursor);
    EXPECT_TRUE(dm.DoSQLUrv("insert into T values (40, 'busy')"));
    EXPECT_FALSE(dm.DoSQLUrv("insert into NO_SUCH_TABLE values (1)"));
    urvDB = "MSSQL";
    dm.GetGen("DJ_GEN");
    EXPECT_GE(cursor.shown, 3);
    EXPECT_EQ(cursor.shown, cursor.hidden) << "hidden again on every path";
    dm.SetWaitCursor(nullptr);
}

} // namespace
