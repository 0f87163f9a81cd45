#include "db/CParamLogic.h"

#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "tests/support/AnsiText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ostream>

namespace {

class CParamLogicTest : public testing::Test {
protected:
    testsupport::TempDir dir{"tavrel-cparam"};
    std::filesystem::path iniPath = dir / "Tavrel.INI";
    TFCParamLogic form;

    void SetUp() override { UserIniFile = std::make_unique<TSettingsFile>(iniPath); }
    void TearDown() override { UserIniFile.reset(); }

    void fill(int kind, std::string server = "srv")
    {
        ConnectionParamsRequest request;
        request.Title = u"title";
        request.Sect = "LoginU";
        request.Kind = kind;
        request.Server = std::move(server);
        request.Database = "/data/urv.fdb";
        request.UserName = "SYSDBA";
        request.Password = "secret";
        form.Fill(request);
    }
};

struct VisibilityCase {
    const char* name;
    int storedKind;
    int expectedSelection;
    bool serverVisible;
    const char16_t* serverText;
};

void PrintTo(const VisibilityCase& c, std::ostream* os) { *os << c.name; }

const VisibilityCase visibilityCases[] = {
    {"firebird", 0, 0, true, u"srv"},
    {"mssql", 1, 1, true, u"srv"},
    {"oracleHidesAndEmptiesTheServer", 2, 2, false, u""},
    {"unknownKindSelectsNothing", 7, -1, true, u"srv"},
    {"negativeKindSelectsNothing", -1, -1, true, u"srv"},
};

class FormShowVisibility : public CParamLogicTest, public testing::WithParamInterface<VisibilityCase> {};

TEST_P(FormShowVisibility, FollowsTheSelectedKind)
{
    fill(GetParam().storedKind);
    form.FormShow();
    EXPECT_EQ(form.ComboDBIndex, GetParam().expectedSelection);
    EXPECT_EQ(form.EServVisible, GetParam().serverVisible);
    EXPECT_EQ(form.EServ, GetParam().serverText);
}

INSTANTIATE_TEST_SUITE_P(CParam, FormShowVisibility, testing::ValuesIn(visibilityCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CParamLogicTest, SwitchingFromOracleBackShowsAnEmptyServer)
{
    fill(1);
    form.FormShow();
    form.ComboDBIndex = 2;
    form.ComboDBChange();
    EXPECT_FALSE(form.EServVisible);
    form.ComboDBIndex = 1;
    form.ComboDBChange();
    EXPECT_TRUE(form.EServVisible);
    EXPECT_EQ(form.EServ, u"");
}

TEST_F(CParamLogicTest, OkWritesAllFiveKeysAndCloses)
{
    testsupport::writeFileBytes(iniPath, "[Other]\nKeep=1\n");
    fill(2);
    form.FormShow();
    form.EPass = u"Пароль";
    form.BBOKClick();
    EXPECT_EQ(form.ModalResult, 1);
    // Lines end as the system's do; the password is scrambled in its ANSI code page.
    std::string written = testsupport::readFileBytes(iniPath);
    std::erase(written, '\r');
    EXPECT_EQ(written,
              "[Other]\nKeep=1\n\n\n[LoginU]\nDB=2\nServer=\nDatabase=/data/urv.fdb\nUserName=SYSDBA\nPassword=" +
                  scramble::XorEncode(testsupport::ansi("Пароль")) + "\n");
}

TEST_F(CParamLogicTest, OkWithoutSelectionStoresFirebird)
{
    fill(7);
    form.FormShow();
    form.BBOKClick();
    EXPECT_EQ(UserIniFile->ReadInteger("LoginU", "DB", -1), 0);
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Server", ""), "srv");
}

TEST_F(CParamLogicTest, UnchangedAndEmptyPasswordsAreStoredAsGiven)
{
    fill(0);
    form.BBOKClick();
    EXPECT_EQ(scramble::XorDecode(UserIniFile->ReadString("LoginU", "Password", "")), "secret");

    form.EPass.clear();
    form.BBOKClick();
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Password", "x"), "");
}

TEST_F(CParamLogicTest, RefusedWriteThrowsAndKeepsTheDialogOpen)
{
    testsupport::writeFileBytes(dir / "notAFolder", "");
    UserIniFile = std::make_unique<TSettingsFile>(dir / "notAFolder" / "Tavrel.INI");
    fill(0);
    EXPECT_THROW(form.BBOKClick(), std::runtime_error);
    EXPECT_EQ(form.ModalResult, 0);
}

} // namespace
