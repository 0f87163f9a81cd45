#include "db/SettingsFile.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>

using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

class SettingsFileTest : public testing::Test {
protected:
    testsupport::TempDir dir{"tavrel-ini"};
    std::filesystem::path iniPath = dir / "Tavrel.INI";
    TSettingsFile ini{iniPath};

    std::size_t filesInFolder() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
    }
};

struct UnusableFile {
    const char* name;
    std::string content;
};

void PrintTo(const UnusableFile& c, std::ostream* os) { *os << c.name; }

const UnusableFile unusableFiles[] = {
    {"missing", ""},
    {"empty", ""},
    {"binary", std::string("\x00\xff\xfe[\x01\x02]\nDB\x00=1\n\x7f", 16)},
    {"malformed", "garbage without sections\n[LoginU\nDB=2\n=\n[[]]\n"},
    {"otherSectionsOnly", "[Other]\nDB=2\nUserName=bob\n"},
};

class UnusableSettingsFile : public SettingsFileTest, public testing::WithParamInterface<UnusableFile> {};

TEST_P(UnusableSettingsFile, ReadsDefaultsAndKeepsEverySectionOnWrite)
{
    if (std::string(GetParam().name) != "missing")
        writeFileBytes(iniPath, GetParam().content);
    EXPECT_EQ(ini.ReadInteger("LoginU", "DB", 0), 0);
    EXPECT_EQ(ini.ReadString("LoginU", "Server", ""), "");
    EXPECT_EQ(ini.ReadString("LoginU", "UserName", "SYSDBA"), "SYSDBA");
    EXPECT_EQ(ini.ReadString("LoginU", "Password", ""), "");

    ini.WriteString("LoginU", "Database", "/data/urv.fdb");
    EXPECT_EQ(ini.ReadString("LoginU", "Database", ""), "/data/urv.fdb");
    if (std::string(GetParam().name) == "otherSectionsOnly") {
        EXPECT_EQ(ini.ReadInteger("Other", "DB", 0), 2);
        EXPECT_EQ(ini.ReadString("Other", "UserName", ""), "bob");
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, UnusableSettingsFile, testing::ValuesIn(unusableFiles),
                         [](const auto& info) { return std::string(info.param.name); });

struct IntegerCase {
    const char* name;
    const char* stored;
    int expected;
};

void PrintTo(const IntegerCase& c, std::ostream* os) { *os << c.name; }

const IntegerCase integerCases[] = {
    {"plain", "2", 2},
    {"outOfKindRange", "7", 7},
    {"negative", "-3", -3},
    {"plusSign", "+5", 5},
    {"blanksAroundAreTrimmed", "  12  ", 12},
    {"letters", "abc", 99},
    {"trailingLetters", "12x", 99},
    {"emptyValue", "", 99},
    {"tooLarge", "99999999999", 99},
    {"onlySign", "-", 99},
    {"quoted", "\"1\"", 1},
};

class IntegerKey : public SettingsFileTest, public testing::WithParamInterface<IntegerCase> {};

TEST_P(IntegerKey, ReadsDecimalOrDefault)
{
    writeFileBytes(iniPath, std::string("[LoginU]\nDB=") + GetParam().stored + "\n");
    EXPECT_EQ(ini.ReadInteger("LoginU", "DB", 99), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, IntegerKey, testing::ValuesIn(integerCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct StringCase {
    const char* name;
    const char* stored;
    const char* expected;
};

void PrintTo(const StringCase& c, std::ostream* os) { *os << c.name; }

const StringCase stringCases[] = {
    {"plain", "C:/Tavrel/URV.FDB", "C:/Tavrel/URV.FDB"},
    {"doubleQuotesEnclosingAreDropped", "\"C:/Program Files/URV.FDB\"", "C:/Program Files/URV.FDB"},
    {"singleQuotesEnclosingAreDropped", "'db host'", "db host"},
    {"blanksInsideQuotesAreKept", "  \" spaced \"  ", " spaced "},
    {"emptyQuotes", "\"\"", ""},
    {"loneQuoteIsKept", "\"", "\""},
    {"unmatchedQuotesAreKept", "\"C:/URV.FDB'", "\"C:/URV.FDB'"},
    {"quoteOnlyAtTheStartIsKept", "\"C:/URV.FDB", "\"C:/URV.FDB"},
    {"innerQuotesAreKept", "a\"b\"c", "a\"b\"c"},
};

class StringKey : public SettingsFileTest, public testing::WithParamInterface<StringCase> {};

TEST_P(StringKey, ReadsAsTheProfileFunctionsReadIt)
{
    writeFileBytes(iniPath, std::string("[LoginU]\nDatabase=") + GetParam().stored + "\n");
    EXPECT_EQ(ini.ReadString("LoginU", "Database", "default"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Settings, StringKey, testing::ValuesIn(stringCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFileTest, NamesMatchWithoutRegardToCase)
{
    writeFileBytes(iniPath, "[loginu]\nSERVER=db1\nusername=\n");
    EXPECT_EQ(ini.ReadString("LoginU", "Server", ""), "db1");
    // Present but empty is not missing: no fallback to the default.
    EXPECT_EQ(ini.ReadString("LOGINU", "UserName", "SYSDBA"), "");

    ini.WriteString("LoginU", "server", "db2");
    EXPECT_EQ(ini.ReadString("loginu", "Server", ""), "db2");
    const std::string content = readFileBytes(iniPath);
    EXPECT_EQ(content.find("[LoginU]"), std::string::npos) << "a second section was added:\n" << content;
}

TEST_F(SettingsFileTest, EveryReadGoesToTheFileAndEveryWriteReachesItAtOnce)
{
    ini.WriteInteger("LoginU", "DB", 1);
    EXPECT_NE(readFileBytes(iniPath).find("DB=1"), std::string::npos);

    // A change made behind the object's back is seen by the next read.
    writeFileBytes(iniPath, "[LoginU]\nDB=2\n");
    EXPECT_EQ(ini.ReadInteger("LoginU", "DB", 0), 2);
}

TEST_F(SettingsFileTest, WriteKeepsOtherSectionsKeysAndComments)
{
    writeFileBytes(iniPath,
                   "; workstation settings\n[Main]\nLang=ru\n\n[LoginU]\nDB=0\nServer=old\n\n[LoginG]\nDB=1\n");
    ini.WriteString("LoginU", "Server", "new");
    ini.WriteString("LoginU", "Password", "");
    EXPECT_EQ(ini.ReadString("Main", "Lang", ""), "ru");
    EXPECT_EQ(ini.ReadInteger("LoginG", "DB", 0), 1);
    EXPECT_EQ(ini.ReadString("LoginU", "Server", ""), "new");
    EXPECT_EQ(ini.ReadString("LoginU", "Password", "x"), "");
    EXPECT_NE(readFileBytes(iniPath).find("; workstation settings"), std::string::npos);
    EXPECT_EQ(filesInFolder(), 1u) << "a temporary file was left behind";
}

TEST_F(SettingsFileTest, WindowsLineEndsAndByteOrderMarkAreRead)
{
    writeFileBytes(iniPath, "\xEF\xBB\xBF[LoginU]\r\nDB=1\r\nServer = db host \r\n");
    EXPECT_EQ(ini.ReadInteger("LoginU", "DB", 0), 1);
    EXPECT_EQ(ini.ReadString("LoginU", "Server", ""), "db host");
    ini.WriteInteger("LoginU", "DB", 2);
    EXPECT_EQ(readFileBytes(iniPath).rfind("\xEF\xBB\xBF[LoginU]", 0), 0u) << "the byte-order mark was dropped";
    EXPECT_EQ(ini.ReadString("LoginU", "Server", ""), "db host");
}

TEST_F(SettingsFileTest, RefusedWriteNamesTheFileAndLeavesItWhole)
{
    // The settings file lies in a "folder" that is a plain file: nothing can be created there.
    writeFileBytes(dir / "notAFolder", "x");
    TSettingsFile unreachable(dir / "notAFolder" / "Tavrel.INI");
    try {
        unreachable.WriteInteger("LoginU", "DB", 1);
        FAIL() << "the write was not refused";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find((std::filesystem::path("notAFolder") / "Tavrel.INI").string()),
                  std::string::npos)
            << e.what();
    }
    EXPECT_EQ(readFileBytes(dir / "notAFolder"), "x");
}

TEST_F(SettingsFileTest, ReadOnlyFileIsRefusedAndUnchanged)
{
    const std::string before = "[LoginU]\nDB=2\n";
    writeFileBytes(iniPath, before);
    std::filesystem::permissions(iniPath, std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
    EXPECT_THROW(ini.WriteString("LoginU", "Server", "x"), std::runtime_error);
    EXPECT_EQ(readFileBytes(iniPath), before);
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(SettingsFileTest, WriteThroughALinkKeepsTheLink)
{
    const auto real = dir / "real.ini";
    writeFileBytes(real, "[LoginU]\nDB=1\n");
    std::filesystem::create_symlink(real, iniPath);
    ini.WriteString("LoginU", "Server", "s");
    EXPECT_TRUE(std::filesystem::is_symlink(iniPath));
    EXPECT_NE(readFileBytes(real).find("Server=s"), std::string::npos);
}

} // namespace
