// The install journal on a real file: every name comes back as written, the
// commit mark counts only when whole, and a file that is no journal is refused.
#include "update/InstallJournal.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

TEST(InstallJournal, NamesOfEveryKindComeBackAndTheMarkCountsOnlyWhenWhole)
{
    testsupport::TempDir dir("tavrel-journal");
    const InstallJournal journal(dir / "journal");
    EXPECT_FALSE(journal.read().has_value());

    const std::vector<JournalEntry> entries{
        // u8: on Windows a narrow path is in the ANSI code page, which may lack these letters.
        {JournalEntry::Kind::Folder, u8"Отчёты"},
        {JournalEntry::Kind::Add, u8"Отчёты/Месяц 100%.frx"},
        {JournalEntry::Kind::Replace, "line\nbreak\r.txt"},
        {JournalEntry::Kind::Replace, "%0A literally"},
        {JournalEntry::Kind::Add, "Tavrel.exe"},
    };
    journal.write(entries);
    auto contents = journal.read();
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(contents->entries, entries);
    EXPECT_FALSE(contents->committed);
    EXPECT_FALSE(fs::exists(dir / "journal.new"));

    // A mark cut short by a crash is no mark.
    std::ofstream(dir / "journal", std::ios::app) << "commit";
    EXPECT_FALSE(journal.read()->committed);
    journal.write(entries);
    journal.markCommitted();
    contents = journal.read();
    EXPECT_TRUE(contents->committed);
    EXPECT_EQ(contents->entries, entries);

    journal.remove();
    EXPECT_FALSE(fs::exists(dir / "journal"));
    journal.remove(); // no journal is no error

    testsupport::writeFileBytes(dir / "journal", "something else\nadd x\n");
    EXPECT_THROW(journal.read(), std::runtime_error);
}

} // namespace
