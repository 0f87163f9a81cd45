// tavrel-update.exe as a Windows workstation runs it: Qt and its Firebird
// driver beside it, the embedded database through fbclient.dll, a signed
// release over HTTP, and the logon run that finds nothing new.
#include "tests/app/CliFixture.h"
#include "tests/support/MinisignKeys.h"


#include <windows.h>

using namespace clitest;
using testsupport::MinisignToolKey;

namespace {

// The tests' fbclient.dll (a stand-in that Wine takes for its builtin,
// which forwards to the host's Firebird client), copied where a workstation
// keeps the real one.
void copyFirebirdClient(const fs::path& folder)
{
    fs::copy_file(fs::path(TAVREL_UPDATE_EXE).parent_path() / "fbclient.dll", folder / "fbclient.dll",
                  fs::copy_options::overwrite_existing);
}

// Firebird's installer names its folder in the registry.
class InstalledFirebird {
public:
    explicit InstalledFirebird(const fs::path& folder)
    {
        fs::create_directories(folder);
        copyFirebirdClient(folder);
        const std::wstring value = folder.wstring();
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"DefaultInstance", REG_SZ, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    ~InstalledFirebird() { RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kKey, L"DefaultInstance"); }
    InstalledFirebird(const InstalledFirebird&) = delete;
    InstalledFirebird& operator=(const InstalledFirebird&) = delete;

private:
    static constexpr const wchar_t* kKey = L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances";
};

class WindowsCli : public Cli {
protected:
    WindowsCli() { copyFirebirdClient(program); }

    // Standard output is text: its lines end in CR LF on Windows.
    CliRun textRun(const std::vector<std::string>& arguments = {})
    {
        CliRun r = run(arguments);
        std::erase(r.out, '\r');
        return r;
    }
};

TEST_F(WindowsCli, SignedReleaseOverHttpInstallsAndTheNextLogonRunFindsNothingNew)
{
    const MinisignToolKey key(root.path(), "publisher");
    fs::copy_file(releases->path() / "release.rar", releases->path() / "signed.rar",
                  fs::copy_options::overwrite_existing);
    key.sign(releases->path() / "signed.rar");
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    publish(server->url("/files/signed.rar"), "1");

    CliRun r = textRun({"--if-changed"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Обновление получено.\nРазархивация завершена.\n");
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
    EXPECT_TRUE(fs::exists(program / ".tavrel-update" / "installed"));
    EXPECT_FALSE(fs::exists(work / "NewExe.zip"));

    const auto before = folderState(program);
    r = textRun({"--if-changed"});
    EXPECT_EQ(r.exitCode, 13) << r.err;
    EXPECT_EQ(r.out, "Новой версии программы нет: установлена опубликованная версия.\n");
    EXPECT_EQ(folderState(program), before);
}

TEST_F(WindowsCli, ReleaseWhoseSignatureFailsIsNotInstalled)
{
    const MinisignToolKey key(root.path(), "publisher");
    std::string bytes = readFileBytes(releases->path() / "release.rar");
    writeFileBytes(releases->path() / "tampered.rar", bytes);
    key.sign(releases->path() / "tampered.rar");
    bytes[bytes.size() / 2] ^= 1;
    writeFileBytes(releases->path() / "tampered.rar", bytes);
    writeSettings(db->path().string(), "[Update]\nPublicKey=" + key.publicKeyLine() + "\n");
    publish(server->url("/files/tampered.rar"), "1");

    const CliRun r = run();
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_FALSE(fs::exists(work / "NewExe.zip"));
}

// fbclient.dll beside the program, else the installed Firebird's; without
// either (and none on the search path) the run names the library.
TEST_F(Cli, FirebirdClientFromTheProgramFolderElseTheInstalledFirebird)
{
    publish((releases->path() / "release.rar").string(), "0");
    {
        const InstalledFirebird installed(root.path() / "Firebird_3_0");
        CliRun r = run();
        EXPECT_EQ(r.exitCode, 0) << "installed Firebird: " << r.err;
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    }
    writeFileBytes(program / "Tavrel.exe", "old program");
    CliRun r = run();
    EXPECT_EQ(r.exitCode, 6) << r.err;
    EXPECT_TRUE(contains(r.err, "fbclient.dll was not found")) << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");

    copyFirebirdClient(program);
    r = run();
    EXPECT_EQ(r.exitCode, 0) << "program folder: " << r.err;
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
}

TEST_F(WindowsCli, HelpAndVersionAsOnLinux)
{
    CliRun r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "Usage: tavrel-update")) << r.out;
    EXPECT_TRUE(contains(r.out, "\"Выполнить\"")) << r.out;
    r = run({"--version"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "tavrel-update ")) << r.out;
    EXPECT_EQ(run({"--no-such-option"}).exitCode, 64);
}

} // namespace
