// Connecting over the network to the local Firebird server that
// scripts/start-firebird-server runs, with its real SYSDBA password.
#include "db/DbModule.h"

#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/RecordingMessages.h"
#include "tests/support/FirebirdTestDb.h"

#include <gtest/gtest.h>

namespace {

class CountingCancelPrompt : public ConnectionParamsPrompt {
public:
    int shown = 0;
    int ShowModal(const ConnectionParamsRequest&) override
    {
        ++shown;
        return mrCancel;
    }
};

class ConnectDBServerTest : public testing::Test {
protected:
    testsupport::TempDir dir{"tavrel-server"};
    platform::RecordingMessages messages;
    CountingCancelPrompt prompt;
    TDbModule dm{messages};
    std::string subd;
    std::unique_ptr<testsupport::FirebirdTestDb> db;

    void SetUp() override
    {
        if (!testsupport::firebirdServerReachable()) {
            if (testsupport::firebirdServerRequired())
                FAIL() << "no Firebird server on 127.0.0.1:3050 (scripts/start-firebird-server)";
            GTEST_SKIP() << "no Firebird server on 127.0.0.1:3050";
        }
        db = std::make_unique<testsupport::FirebirdTestDb>();
        db->execute("create table TAVREL_PARAMS (NEWVERSIONPASS varchar(255), DOUPDATE integer)");
        db->execute("insert into TAVREL_PARAMS values ('\\\\fileserver\\updates\\NewExe.zip', 0)");
        db->allowServerAccess();
        UserIniFile = std::make_unique<TSettingsFile>(dir / "Tavrel.INI");
        dm.SetConnectionParamsPrompt(&prompt);
    }
    void TearDown() override
    {
        dm.FDconUrv.Close();
        UserIniFile.reset();
    }

    void writeSection(const std::string& password)
    {
        UserIniFile->WriteInteger("LoginU", "DB", 0);
        UserIniFile->WriteString("LoginU", "Server", "127.0.0.1");
        UserIniFile->WriteString("LoginU", "Database", db->path().string());
        UserIniFile->WriteString("LoginU", "UserName", "SYSDBA");
        UserIniFile->WriteString("LoginU", "Password", scramble::XorEncode(password));
    }
};

TEST_F(ConnectDBServerTest, RightPasswordConnects)
{
    writeSection(testsupport::firebirdServerPassword());
    ASSERT_TRUE(dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", subd));
    EXPECT_EQ(prompt.shown, 0);
    EXPECT_TRUE(messages.texts().empty());
    dm.QParam.Open();
    EXPECT_EQ(dm.QParam.FieldByName("NEWVERSIONPASS").AsString(), "\\\\fileserver\\updates\\NewExe.zip");
    dm.QParam.Close();
}

TEST_F(ConnectDBServerTest, WrongPasswordFallsBackToTheDialog)
{
    writeSection(testsupport::firebirdServerPassword() + "-wrong");
    EXPECT_FALSE(dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", subd));
    EXPECT_EQ(prompt.shown, 1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Нет соединения с БД \"urv\"!"});
}

} // namespace
