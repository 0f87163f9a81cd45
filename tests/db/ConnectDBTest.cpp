#include "db/DbModule.h"

#include "db/CParamLogic.h"
#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/RecordingMessages.h"
#include "tests/support/FirebirdTestDb.h"

#include <gtest/gtest.h>

#include <ostream>

#include <functional>

using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

const std::string noConnection = "Нет соединения с БД \"urv\"!";

// Stands in for the dialog: records what it was shown and answers as its
// logic would after the user's edit (or cancels when there is no edit).
class ScriptedPrompt : public ConnectionParamsPrompt {
public:
    std::vector<ConnectionParamsRequest> shown;
    std::function<void(TFCParamLogic&)> userEdits; // empty: the user cancels

    int ShowModal(const ConnectionParamsRequest& request) override
    {
        shown.push_back(request);
        if (!userEdits)
            return mrCancel;
        TFCParamLogic form;
        form.Fill(request);
        form.FormShow();
        userEdits(form);
        form.BBOKClick();
        return form.ModalResult;
    }
};

class CountingWaitCursor : public TWaitCursor {
public:
    int shown = 0;
    int hidden = 0;
    void Show() override { ++shown; }
    void Hide() override { ++hidden; }
};

class ConnectDBTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> db;

    static void SetUpTestSuite()
    {
        db = std::make_unique<testsupport::FirebirdTestDb>();
        db->execute("create table TAVREL_PARAMS (NEWVERSIONPASS varchar(255), DOUPDATE integer)");
        db->execute("insert into TAVREL_PARAMS values ('http://updates.example/NewExe.zip', 1)");
    }
    static void TearDownTestSuite() { db.reset(); }

    testsupport::TempDir dir{"tavrel-connect"};
    std::filesystem::path iniPath = dir / "Tavrel.INI";
    platform::RecordingMessages messages;
    ScriptedPrompt prompt;
    TDbModule dm{messages};
    std::string subd = "unchanged";

    void SetUp() override
    {
        UserIniFile = std::make_unique<TSettingsFile>(iniPath);
        dm.SetConnectionParamsPrompt(&prompt);
    }
    void TearDown() override { UserIniFile.reset(); }

    void writeSection(const std::string& kind, const std::string& database, const std::string& password,
                      const std::string& server = "")
    {
        writeFileBytes(iniPath, "[Main]\nLang=ru\n\n[LoginU]\nDB=" + kind + "\nServer=" + server + "\nDatabase=" +
                                    database + "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode(password) + "\n");
    }

    bool connect() { return dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", subd); }

    static void pointAtTheTestDatabase(TFCParamLogic& form)
    {
        form.ComboDBIndex = 0;
        form.ComboDBChange();
        form.EServ.clear();
        form.EBase = std::u16string(db->path().u16string());
    }
};

TEST_F(ConnectDBTest, WorkingSettingsConnectWithoutDialogOrMessage)
{
    CountingWaitCursor cursor;
    dm.SetWaitCursor(&cursor);
    writeSection("0", db->path().string(), "any");
    ASSERT_TRUE(connect());
    EXPECT_EQ(cursor.shown, 1);
    EXPECT_EQ(cursor.hidden, 1);
    EXPECT_TRUE(dm.FDconUrv.Connected());
    EXPECT_EQ(subd, "FB");
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_TRUE(messages.texts().empty());

    dm.QParam.Open();
    EXPECT_EQ(dm.QParam.FieldByName("NEWVERSIONPASS").AsString(), "http://updates.example/NewExe.zip");
    EXPECT_EQ(dm.QParam.FieldByName("doupdate").AsString(), "1");
    EXPECT_THROW(dm.QParam.FieldByName("NOSUCHCOLUMN"), TDbError);
    dm.QParam.Close();
    EXPECT_EQ(cursor.shown, 2);
    EXPECT_EQ(cursor.hidden, 2);
}

struct ParamListCase {
    const char* name;
    const char* kind;
    std::string driver;
    std::vector<std::string> params; // but the password line
};

void PrintTo(const ParamListCase& c, std::ostream* os) { *os << c.name; }

const ParamListCase paramListCases[] = {
    {"firebird", "0", "FB", {"DriverID=FB", "Database=/nowhere/urv.fdb", "User_Name=SYSDBA", "Server="}},
    {"mssqlAddsMars",
     "1",
     "MSSQL",
     {"DriverID=MSSQL", "Database=/nowhere/urv.fdb", "User_Name=SYSDBA", "Server=", "MARS=Yes"}},
    {"oracle", "2", "Ora", {"DriverID=Ora", "Database=/nowhere/urv.fdb", "User_Name=SYSDBA", "Server="}},
    {"unknownKindHasNoDriver", "7", "", {"DriverID=", "Database=/nowhere/urv.fdb", "User_Name=SYSDBA", "Server="}},
    {"notANumberReadsAsFirebird",
     "abc",
     "FB",
     {"DriverID=FB", "Database=/nowhere/urv.fdb", "User_Name=SYSDBA", "Server="}},
};

class ParameterList : public ConnectDBTest, public testing::WithParamInterface<ParamListCase> {};

TEST_P(ParameterList, IsBuiltInOrderAndAFailedOpenEndsInTheMessage)
{
    writeSection(GetParam().kind, "/nowhere/urv.fdb", testsupport::embeddedPassword());
    const std::string before = readFileBytes(iniPath);
    EXPECT_FALSE(connect());
    std::vector<std::string> expected = GetParam().params;
    expected.insert(expected.begin() + 3, "Password=" + testsupport::embeddedPassword());
    EXPECT_EQ(dm.FDconUrv.Params, expected);
    EXPECT_EQ(dm.FDconUrv.DriverName, GetParam().driver);
    EXPECT_EQ(subd, GetParam().driver);
    EXPECT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
    EXPECT_EQ(readFileBytes(iniPath), before);
}

INSTANTIATE_TEST_SUITE_P(ConnectDB, ParameterList, testing::ValuesIn(paramListCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ConnectDBTest, FailThenCancelShowsTheValuesReadAndChangesNothing)
{
    writeSection("2", "/nowhere/urv.fdb", "secret", "oraserver");
    const std::string before = readFileBytes(iniPath);
    EXPECT_FALSE(connect());
    ASSERT_EQ(prompt.shown.size(), 1u);
    const ConnectionParamsRequest& shown = prompt.shown.front();
    EXPECT_EQ(shown.Title, u"Нет соединения с БД \"urv\"!  Укажите параметры подключения:");
    EXPECT_EQ(shown.Sect, "LoginU");
    EXPECT_EQ(shown.Kind, 2);
    EXPECT_EQ(shown.Server, "oraserver");
    EXPECT_EQ(shown.Database, "/nowhere/urv.fdb");
    EXPECT_EQ(shown.UserName, "SYSDBA");
    EXPECT_EQ(shown.Password, "secret");
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
    EXPECT_EQ(readFileBytes(iniPath), before);
    EXPECT_FALSE(dm.FDconUrv.Connected());
}

TEST_F(ConnectDBTest, FailThenOkThenSuccessKeepsTheNewSettings)
{
    writeSection("1", "nowhere", "wrong", "mssqlhost");
    prompt.userEdits = pointAtTheTestDatabase;
    EXPECT_TRUE(connect());
    EXPECT_TRUE(dm.FDconUrv.Connected());
    EXPECT_EQ(prompt.shown.size(), 1u);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(subd, "FB");
    EXPECT_EQ(UserIniFile->ReadInteger("LoginU", "DB", -1), 0);
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Database", ""), db->path().string());
    EXPECT_EQ(UserIniFile->ReadString("Main", "Lang", ""), "ru");
}

TEST_F(ConnectDBTest, FailThenOkThenFailShowsOneMessageAndNoSecondDialog)
{
    CountingWaitCursor cursor;
    dm.SetWaitCursor(&cursor);
    writeSection("0", "/nowhere/urv.fdb", testsupport::embeddedPassword());
    prompt.userEdits = [](TFCParamLogic& form) { form.EBase = u"/still/nowhere.fdb"; };
    EXPECT_FALSE(connect());
    EXPECT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Database", ""), "/still/nowhere.fdb");
    EXPECT_EQ(dm.FDconUrv.Param("Database"), "/still/nowhere.fdb");
    EXPECT_EQ(cursor.shown, 2);
    EXPECT_EQ(cursor.hidden, 2) << "a failed open left the wait cursor on";
}

TEST_F(ConnectDBTest, UnknownKindConfirmedWithoutChoiceRetriesAsFirebird)
{
    writeSection("7", db->path().string(), testsupport::embeddedPassword());
    prompt.userEdits = [](TFCParamLogic&) {};
    EXPECT_TRUE(connect());
    EXPECT_EQ(subd, "FB");
    EXPECT_EQ(prompt.shown.front().Kind, 7);
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(ConnectDBTest, MissingSettingsFileFallsBackToTheDialog)
{
    prompt.userEdits = pointAtTheTestDatabase;
    EXPECT_TRUE(connect());
    const ConnectionParamsRequest& shown = prompt.shown.front();
    EXPECT_EQ(shown.Kind, 0);
    EXPECT_EQ(shown.Database, "");
    EXPECT_EQ(shown.UserName, "SYSDBA");
    EXPECT_EQ(shown.Password, "");
}

TEST_F(ConnectDBTest, WithoutADialogTheFallbackCancels)
{
    dm.SetConnectionParamsPrompt(nullptr);
    writeSection("0", "/nowhere/urv.fdb", testsupport::embeddedPassword());
    EXPECT_FALSE(connect());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
}

TEST_F(ConnectDBTest, OracleWithoutItsDriverFailsLikeARefusal)
{
    if (QSqlDatabase::isDriverAvailable("QOCI"))
        GTEST_SKIP() << "this Qt has an Oracle driver";
    writeSection("2", "ORCL", testsupport::embeddedPassword());
    EXPECT_FALSE(connect());
    EXPECT_EQ(subd, "Ora");
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
}

TEST_F(ConnectDBTest, ParameterQueryErrorCarriesTheDatabaseText)
{
    writeSection("0", db->path().string(), testsupport::embeddedPassword());
    ASSERT_TRUE(connect());
    dm.QParam.SQL = "select * from NO_SUCH_TABLE";
    try {
        dm.QParam.Open();
        FAIL() << "no error";
    } catch (const TDbError& e) {
        EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(dm.QParam.Active());
}

} // namespace
