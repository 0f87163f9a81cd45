// One update from the renew button to the unpacked release, with the real
// archive component and our UnRAR library, a loopback HTTP server and real
// folders: the program folder has Cyrillic letters in its path and the
// current directory is another folder, as when the program is started from
// a shortcut elsewhere.
#include "app/ProcessVariables.h"
#include "app/UpdateRun.h"
#include "platform/RecordingMessages.h"
#include "platform/TextCodec.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::CurrentDirectory;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

const std::string kReceived = "Обновление получено.";
const std::string kFailed = "Не удалось обновить файл!";
const std::string kUnpacked = "Разархивация завершена.";

struct RecordingView : UpdateView {
    std::vector<bool> enabled;
    std::uint64_t unpacked = 0;
    std::function<void()> duringFetch;
    void setRenewEnabled(bool on) override { enabled.push_back(on); }
    void unpackProgress(std::uint64_t done, std::uint64_t) override { unpacked = done; }
    bool fetchProgress(std::uint64_t, std::optional<std::uint64_t>) override
    {
        if (duringFetch)
            duringFetch();
        return true;
    }
};

class UpdateRun : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        releases = std::make_unique<testsupport::TempDir>("tavrel-releases");
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .directory("Help")
            .file("Help/Tavrel.chm", "new help")
            .write(releases->path(), "release");
        RarWriter(RarFormat::Rar5).file("Tavrel.exe", "new program").wrongCrc().write(releases->path(), "damaged");
        server = std::make_unique<testsupport::HttpTestServer>(releases->path().string());
    }
    static void TearDownTestSuite()
    {
        server.reset();
        releases.reset();
    }

    UpdateRun()
    {
        fs::create_directories(program);
        writeFileBytes(program / "Tavrel.exe", "old program");
        WorkDir = program.string() + "/";
        FHttp = false;
    }

    std::string release(const std::string& name) const { return (releases->path() / name).string(); }
    fs::path archiveInWork() const { return work / "NewExe.zip"; }

    static std::unique_ptr<testsupport::TempDir> releases;
    static std::unique_ptr<testsupport::HttpTestServer> server;

    testsupport::TempDir root{"tavrel-update"};
    fs::path program = root / "Программа Таврель";
    fs::path work = root / "work";
    CurrentDirectory cwd{work};
    platform::RecordingMessages messages;
    RecordingView view;
    std::unique_ptr<platform::HttpClient> http = platform::makeCurlHttpClient();
    TUpdateRun run{messages, view, *http};
};
std::unique_ptr<testsupport::TempDir> UpdateRun::releases;
std::unique_ptr<testsupport::HttpTestServer> UpdateRun::server;

TEST_F(UpdateRun, CopyModeInstallsTheCopiedArchiveEvenFromAnotherDirectory)
{
    // A stale archive in the current directory must not be what gets installed.
    writeFileBytes(archiveInWork(), "stale");
    messages.onMessage = [&](const platform::RecordedMessage& m) {
        if (m.text == kReceived) {
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program") << "told before unpacking";
            EXPECT_TRUE(fs::exists(program / "NewExe.zip"));
        }
    };

    EXPECT_EQ(run.BBRenewClick(release("release.rar")), UpdateOutcome::Installed);

    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, kUnpacked}));
    EXPECT_EQ(messages.all().at(0).kind, platform::MessageKind::Information);
    EXPECT_EQ(messages.all().at(1).kind, platform::MessageKind::Information);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
    EXPECT_EQ(readFileBytes(archiveInWork()), "stale");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
    EXPECT_GT(view.unpacked, 0u);
}

TEST_F(UpdateRun, HttpModeDownloadsToAndUnpacksFromTheCurrentDirectory)
{
    FHttp = true;
    EXPECT_EQ(run.BBRenewClick(server->url("/files/release.rar")), UpdateOutcome::Installed);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, kUnpacked}));
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
    EXPECT_FALSE(fs::exists(archiveInWork()));
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));

    // The button is back, and a second update runs afresh.
    messages.clear();
    writeFileBytes(program / "Tavrel.exe", "changed since");
    EXPECT_EQ(run.BBRenewClick(server->url("/files/release.rar")), UpdateOutcome::Installed);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true, false, true}));
}

struct RejectedArchive {
    const char* name;
    const char* path; // on the test server
    UpdateOutcome outcome;
    std::string before; // message text before the archive's path
    std::string after;  // and after it
};

void PrintTo(const RejectedArchive& c, std::ostream* os) { *os << c.name; }

class RejectedArchives : public UpdateRun, public ::testing::WithParamInterface<RejectedArchive> {};

TEST_P(RejectedArchives, AreReportedWithTheirAbsolutePathAndKept)
{
    const RejectedArchive& c = GetParam();
    FHttp = true;
    EXPECT_EQ(run.BBRenewClick(server->url(c.path)), c.outcome);
    const std::string archive = fs::current_path() / "NewExe.zip";
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, c.before + archive + c.after}));
    EXPECT_EQ(messages.all().back().kind, platform::MessageKind::Error);
    EXPECT_TRUE(fs::exists(archiveInWork()));
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
}

INSTANTIATE_TEST_SUITE_P(
    Update, RejectedArchives,
    ::testing::Values(
        RejectedArchive{"WebPageFrom302", "/status/302", UpdateOutcome::OpenFailed, "Ошибка при открытии архива ", ""},
        RejectedArchive{"EmptyBody", "/empty", UpdateOutcome::OpenFailed, "Ошибка при открытии архива ", ""},
        RejectedArchive{"DamagedEntry", "/files/damaged.rar", UpdateOutcome::TestFailed, "Архив ", " поврежден!"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateRun, FailedFetchAddsItsSummaryAndUnpacksNothing)
{
    struct Case {
        bool http;
        std::string source;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {false, release("absent.rar"), {"Файл обновления по указанному пути не найден!", kFailed}},
        {false, releases->path().string(), {"Файл обновления по указанному пути не найден!", kFailed}},
        {true, server->url("/status/404"), {kFailed}},
        {true, server->url("/cut/4096/100"), {kFailed}},
    };
    for (const Case& c : cases) {
        FHttp = c.http;
        messages.clear();
        view.enabled.clear();
        EXPECT_EQ(run.BBRenewClick(c.source), UpdateOutcome::FetchFailed) << c.source;
        EXPECT_EQ(messages.texts(), c.texts) << c.source;
        EXPECT_EQ(messages.all().back().kind, platform::MessageKind::Error);
        EXPECT_EQ(view.enabled, (std::vector<bool>{false, true})) << c.source;
        EXPECT_FALSE(fs::exists(archiveInWork()));
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    }
}

TEST_F(UpdateRun, MissingLibraryIsAnOpeningFailure)
{
    run.RAR1.setDllName("libtavrel-no-such-unrar.so");
    EXPECT_EQ(run.BBRenewClick(release("release.rar")), UpdateOutcome::OpenFailed);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{kReceived, "Ошибка при открытии архива " + (program / "NewExe.zip").string()}));
    EXPECT_TRUE(fs::exists(program / "NewExe.zip"));
}

TEST_F(UpdateRun, FailedExtractionIsReportedAndKeepsTheArchive)
{
    // A file where the archive has a folder: the entries below it cannot be
    // written, by root neither.
    writeFileBytes(program / "Help", "in the way");
    EXPECT_EQ(run.BBRenewClick(release("release.rar")), UpdateOutcome::ExtractFailed);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{kReceived, "Ошибка при распаковке архива " + (program / "NewExe.zip").string()}));
    EXPECT_TRUE(fs::exists(program / "NewExe.zip"));
}

TEST_F(UpdateRun, EscapingExceptionReenablesTheButton)
{
    FHttp = true;
    fs::create_directory(archiveInWork()); // the download cannot take this name
    EXPECT_THROW(run.BBRenewClick(server->url("/files/release.rar")), std::system_error);
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
    EXPECT_FALSE(run.running());
    EXPECT_TRUE(messages.all().empty());
}

TEST_F(UpdateRun, ClickDuringARunIsIgnoredAndCancelStopsTheFetch)
{
    FHttp = true;
    std::optional<UpdateOutcome> nested;
    view.duringFetch = [&] {
        nested = run.BBRenewClick(server->url("/files/release.rar"));
        run.cancel();
    };
    EXPECT_EQ(run.BBRenewClick(server->url("/slow/4/10")), UpdateOutcome::FetchFailed);
    EXPECT_EQ(nested, UpdateOutcome::AlreadyRunning);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kFailed}));
    EXPECT_FALSE(fs::exists(archiveInWork()));
}

} // namespace
