// The dialog program started while another updater holds the program folder:
// it says so, ends, and touches nothing (no recovery of the other's work, no
// database connection).
#include "app/DialogProgram.h"
#include "platform/FileLock.h"
#include "platform/RecordingMessages.h"
#include "platform/TextCodec.h"
#include "tests/support/TempDir.h"
#include "update/UpdateFolder.h"
#include "update/UpdateSession.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

using testsupport::folderContents;

TEST(DialogBusy, SecondUpdaterIsToldAndLeavesTheOthersWorkAlone)
{
    testsupport::TempDir program{"tavrel-dialog-busy"};
    const UpdateFolder folder(program.path());
    writeFileBytes(program / "Tavrel.exe", "old program");
    writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\nDatabase=" + (program / "absent.fdb").string() + "\n");
    // The other updater is unpacking and downloading: a start that went on
    // would take these for leftovers of a crash and remove them.
    fs::create_directories(folder.staging());
    writeFileBytes(folder.staging() / "Tavrel.exe", "new program, half unpacked");
    writeFileBytes(program / ".NewExe.zip.part-a1b2c3", "half downloaded");
    const platform::FileLock other(folder.lock().string());
    ASSERT_EQ(other.state(), platform::FileLock::State::Held);
    const auto before = folderContents(program.path());

    platform::RecordingMessages messages;
    EXPECT_EQ(runUpdateDialog(messages, program.path()), 1);

    ASSERT_EQ(messages.all().size(), 1u) << ::testing::PrintToString(messages.texts());
    EXPECT_EQ(messages.all().front().text, platform::toUtf8(kUpdateBusyText));
    EXPECT_EQ(messages.all().front().kind, platform::MessageKind::Error);
    EXPECT_EQ(folderContents(program.path()), before);
}

} // namespace
