// Two components in one process, each on a library of its own: our real
// library and the scripted stand-in. Each must call only the library it
// loaded, also once the other component is gone and its library released.
#include "ScriptedLibrary.h"

#include "RAR_Component/RAR.h"
#include "platform/RecordingMessages.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class TwoLibraries : public ::testing::TestWithParam<bool> {};

int listedFiles(TRAR& rar, const std::filesystem::path& archive)
{
    return rar.OpenFile(archive.u16string()) ? rar.ArchiveInformation().TotalFiles() : -1;
}

TEST_P(TwoLibraries, EachComponentListsItsOwnArchive)
{
    const bool realGoesFirst = GetParam();
    testsupport::TempDir dir("tavrel-rarcomp-two");

    tavrel::test::RarWriter writer(tavrel::test::RarFormat::Rar5);
    writer.file("a.txt", "first").file("b.txt", "second");
    const std::filesystem::path realArchive = writer.write(dir.path(), "real").front();

    const std::filesystem::path scriptedArchive = dir / "scripted.rar";
    testsupport::writeFileBytes(scriptedArchive, "Rar!");
    ScriptedLibrary library(SCRIPTED_UNRAR);
    scripted::Entry entry;
    entry.name = "only.txt";
    library.play({.entries = {entry}});

    platform::RecordingMessages messages;
    auto real = std::make_unique<TRAR>(messages);
    auto standIn = std::make_unique<TRAR>(messages);
    standIn->setDllName(SCRIPTED_UNRAR);

    // The second load must not redirect the first component.
    ASSERT_EQ(listedFiles(*real, realArchive), 2);
    ASSERT_EQ(listedFiles(*standIn, scriptedArchive), 1);
    EXPECT_EQ(listedFiles(*real, realArchive), 2);
    EXPECT_EQ(listedFiles(*standIn, scriptedArchive), 1);

    if (realGoesFirst) {
        real.reset();
        EXPECT_EQ(listedFiles(*standIn, scriptedArchive), 1);
    } else {
        standIn.reset();
        EXPECT_EQ(listedFiles(*real, realArchive), 2);
    }
    EXPECT_TRUE(messages.all().empty());
}

INSTANTIATE_TEST_SUITE_P(Destroyed, TwoLibraries, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "RealFirst" : "ScriptedFirst"; });

} // namespace
