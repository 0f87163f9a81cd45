// Releases as a scripted stand-in for the UnRAR library reports them:
// entries that claim more than 4 GiB in all (the free-space check must add
// the whole 64-bit sizes and refuse before anything is unpacked), and a
// library that reports success for files it wrote somewhere else.
#include "platform/RecordingMessages.h"
#include "tests/rar_component/ScriptedLibrary.h"
#include "tests/support/TempDir.h"
#include "update/UpdateFolder.h"
#include "update/UpdateRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <vector>

namespace fs = std::filesystem;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

struct SilentView : UpdateView {
    void setRenewEnabled(bool) override {}
    bool fetchProgress(std::uint64_t, std::optional<std::uint64_t>) override { return true; }
};

// An entry of 4 PiB and `low` bytes: its low 32 bits alone fit any disk.
scripted::Entry hugeEntry(const std::string& name, unsigned low)
{
    scripted::Entry e;
    e.name = name;
    e.unpSize = low;
    e.unpSizeHigh = 0x100000;
    e.packSize = 16;
    e.content = "would be written";
    return e;
}

// A program folder, a stand-in archive beside it and the update run that
// unpacks it through the scripted library.
class ScriptedRelease : public ::testing::Test {
protected:
    ScriptedRelease()
    {
        fs::create_directories(program);
        writeFileBytes(program / "Tavrel.exe", "old program");
        writeFileBytes(archive, "the stand-in library does not read it");
        run.RAR1.setDllName(library.path());
    }
    UpdateOutcome unpack(const std::vector<scripted::Entry>& entries)
    {
        library.play({.entries = entries});
        return run.UnRarFile(archive.string(), program.string() + "/");
    }

    testsupport::TempDir root{"tavrel-scripted"};
    const fs::path program = root / "program";
    const fs::path archive = root / "NewExe.zip";
    ScriptedLibrary library{SCRIPTED_UNRAR};
    platform::RecordingMessages messages;
    SilentView view;
    std::unique_ptr<platform::HttpClient> http = platform::makeHttpClient();
    TUpdateRun run{messages, view, *http};
};

TEST_F(ScriptedRelease, IsRefusedForLackOfSpaceBeforeAnythingIsUnpacked)
{
    EXPECT_EQ(unpack({hugeEntry("Tavrel.exe", 0x100), hugeEntry("Help.chm", 0x100)}), UpdateOutcome::ExtractFailed);

    // 2 × (4 PiB + 256 bytes), rounded up to whole mebibytes.
    const std::string expected = "Ошибка при распаковке архива " + archive.string() +
                                 ": недостаточно места на диске (нужно 8589934593 МБ, свободно ";
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts().front().substr(0, expected.size()), expected);
    EXPECT_TRUE(messages.texts().front().ends_with(" МБ)")) << messages.texts().front();
    EXPECT_EQ(messages.all().front().kind, platform::MessageKind::Error);

    // Tested, never extracted; the folder and the archive are as they were.
    const auto& log = library.log();
    EXPECT_TRUE(std::none_of(log.begin(), log.end(), [](const std::string& line) {
        return line.starts_with("process " + std::to_string(RAR_EXTRACT));
    })) << ::testing::PrintToString(log);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_FALSE(fs::exists(program / "Help.chm"));
    EXPECT_TRUE(!fs::exists(program / kUpdateFolderName) || fs::is_empty(program / kUpdateFolderName));
    EXPECT_TRUE(fs::exists(archive));
}

// A library that misreads the destination (as ours once did on Windows,
// taking an OEM path for an ANSI one) writes the files beside the program
// folder and reports success: the run must not install an empty release.
TEST_F(ScriptedRelease, FilesTheLibraryWroteElsewhereStopTheInstall)
{
    const fs::path stray = root / "stray.exe";

    scripted::Entry entry;
    entry.name = "Tavrel.exe";
    entry.content = "new program";
    entry.unpSize = entry.packSize = static_cast<unsigned>(entry.content.size());
    entry.writtenTo = stray.string();
    entry.requests = {{.msg = UCM_PROCESSDATA, .p2 = static_cast<long>(entry.content.size())}};

    EXPECT_EQ(unpack({entry}), UpdateOutcome::ExtractFailed);

    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts().front(), "Ошибка при распаковке архива " + archive.string() +
                                            ": Tavrel.exe: библиотека UnRAR сообщила, что распаковала файл, "
                                            "но в папке обновления его нет");
    EXPECT_TRUE(fs::exists(stray)); // it did write, elsewhere
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_TRUE(!fs::exists(program / kUpdateFolderName) || fs::is_empty(program / kUpdateFolderName));
}

} // namespace
