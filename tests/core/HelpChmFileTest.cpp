#include "core/HelpChmFile.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using core::HelpChmFile;

namespace {

const std::string dataDir = TAVREL_SERVICES_DATA;

TEST(HelpChmFile, ReadsPagesAndTheTableOfContents)
{
    const auto file = HelpChmFile::open(dataDir + "/Tavrel.chm");
    ASSERT_NE(file, nullptr);
    const auto page = file->read("25.html");
    ASSERT_TRUE(page.has_value());
    EXPECT_NE(page->find("Страница темы 25."), std::string::npos);
    EXPECT_TRUE(file->read("/7.html").has_value());
    EXPECT_FALSE(file->read("99.html").has_value());

    const auto contents = file->contents();
    ASSERT_EQ(contents.size(), 3u);
    EXPECT_EQ(contents[0].name, "Табель");
    EXPECT_EQ(contents[0].page, "index.html");
    EXPECT_EQ(contents[0].level, 0);
    EXPECT_EQ(contents[1].name, "Графики работы");
    EXPECT_EQ(contents[1].level, 1);
    EXPECT_EQ(file->pages(), (std::vector<std::string>{"/25.html", "/7.html", "/index.html"}));
}

TEST(HelpChmFile, MissingForeignAndDamagedFiles)
{
    testsupport::TempDir dir("tavrel-help");
    EXPECT_EQ(HelpChmFile::open((dir / "none.chm").string()), nullptr);
    testsupport::writeFileBytes(dir / "text.chm", "this is not a help file\n");
    EXPECT_EQ(HelpChmFile::open((dir / "text.chm").string()), nullptr);
    testsupport::writeFileBytes(dir / "empty.chm", "");
    EXPECT_EQ(HelpChmFile::open((dir / "empty.chm").string()), nullptr);

    // Cut off after its directory: the pages are listed but none can be read whole.
    const auto damaged = HelpChmFile::open(dataDir + "/damaged.chm");
    if (damaged) {
        EXPECT_FALSE(damaged->read("25.html").has_value());
        EXPECT_TRUE(damaged->contents().empty());
    }
}

TEST(HelpSitemap, EntriesAndLevels)
{
    const std::string sitemap =
        "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Top\">"
        "<param name=\"Local\" value=\"a.html\"></OBJECT>"
        "<UL><LI><object type='text/sitemap'><PARAM NAME=Name VALUE=Inner><param name=\"Local\" value=\"b.html\">"
        "</object></UL>"
        "<LI><OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"ignored\"></OBJECT>"
        "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Heading\"></OBJECT></UL><OBJECT";
    const auto entries = core::parseHelpSitemap(sitemap);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name + "|" + entries[0].page + "|" + std::to_string(entries[0].level), "Top|a.html|0");
    EXPECT_EQ(entries[1].name + "|" + entries[1].page + "|" + std::to_string(entries[1].level), "Inner|b.html|1");
    EXPECT_EQ(entries[2].name + "|" + entries[2].page + "|" + std::to_string(entries[2].level), "Heading||0");
    EXPECT_TRUE(core::parseHelpSitemap("").empty());
}

} // namespace
