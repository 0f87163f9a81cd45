#include "datamodule/MDm.h"

#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/RecordingMessages.h"
#include "platform/qt/QtHelpViewer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string dataDir = TAVREL_SERVICES_DATA;
const std::string notFound = "Файл помощи не найден!";
const std::string notAvailable = "Help-файл не доступен!";
const std::string noTopic = "Топик не найден!";

// Answers as a help window would, and keeps what it was asked.
class ScriptedViewer : public platform::HelpViewer {
public:
    bool answer = true;
    bool throws = false;
    std::vector<std::string> asked;
    bool display(const std::string& address, platform::HelpCommand command) override
    {
        asked.push_back((command == platform::HelpCommand::DisplayToc ? "toc " : "topic ") + address);
        if (throws)
            throw std::runtime_error("help control failed");
        return answer;
    }
};

class HelpTest : public testing::Test {
protected:
    testsupport::TempDir dir{"tavrel-help"};
    std::string helpFile = (dir / "Tavrel.chm").string();
    platform::RecordingMessages messages;
    TMainDM dm{messages};

    void SetUp() override { MyHelpFile = helpFile; }
    void TearDown() override { dm.DataModuleCreate(); }

    void installFixture(const std::string& name)
    {
        std::filesystem::copy_file(dataDir + "/" + name, helpFile, std::filesystem::copy_options::overwrite_existing);
    }

    bool hh(std::uint16_t command, std::int32_t data)
    {
        bool callHelp = true;
        const bool shown = dm.HH(command, data, callHelp);
        EXPECT_FALSE(callHelp) << "command " << command << " data " << data;
        return shown;
    }
};

TEST_F(HelpTest, TheHelpFileLiesBesideTheExecutable)
{
    dm.DataModuleCreate();
    EXPECT_EQ(MyHelpFile, platform::fromPath(platform::executableFolder() / "Tavrel.chm"));
}

TEST_F(HelpTest, WhatEachCommandAsksOfTheHelpWindowAndWhatTheUserIsTold)
{
    const struct {
        const char* name;
        bool fileExists;
        bool windowShows;
        std::uint16_t command;
        std::int32_t data;
        std::vector<std::string> asked; // "<file>" stands for the help file's path
        std::vector<std::string> messages;
    } rows[] = {
        {"contents", true, true, 0, 0, {"toc <file>"}, {}},
        {"contents, no file", false, true, 0, 0, {}, {notFound}},
        {"contents, cannot be shown", true, false, 0, 0, {"toc <file>"}, {notAvailable}},
        {"topic", true, true, 1, 25, {"topic <file>::25.html"}, {}},
        {"topic, negative number", true, true, 1, -3, {"topic <file>::-3.html"}, {}},
        {"topic missing", true, false, 1, 99, {"topic <file>::99.html"}, {noTopic}},
        {"topic, no file", false, false, 1, 25, {"topic <file>::25.html"}, {notFound}},
        {"command 0 with data", true, true, 0, 5, {}, {}},
        {"command 2", true, true, 2, 0, {}, {}},
        {"command 65535", false, true, 65535, 1, {}, {}},
    };
    for (const auto& row : rows) {
        ScriptedViewer viewer;
        viewer.answer = row.windowShows;
        dm.SetHelpViewer(&viewer);
        std::filesystem::remove(helpFile);
        if (row.fileExists)
            installFixture("Tavrel.chm");
        messages.clear();
        EXPECT_EQ(hh(row.command, row.data), !row.asked.empty() && row.windowShows) << row.name;
        std::vector<std::string> asked;
        for (const std::string& text : row.asked)
            asked.push_back(text.substr(0, text.find("<file>")) + helpFile +
                            text.substr(text.find("<file>") + std::string("<file>").size()));
        EXPECT_EQ(viewer.asked, asked) << row.name;
        EXPECT_EQ(messages.texts(), row.messages) << row.name;
        for (const auto& m : messages.all())
            EXPECT_EQ(m.kind, platform::MessageKind::Plain) << row.name;
    }
}

TEST_F(HelpTest, AFailingHelpWindowCountsAsNoWindowAndNeverRaises)
{
    installFixture("Tavrel.chm");
    ScriptedViewer viewer;
    viewer.throws = true;
    dm.SetHelpViewer(&viewer);
    EXPECT_FALSE(hh(0, 0));
    EXPECT_FALSE(hh(1, 25));
    dm.SetHelpViewer(nullptr);
    EXPECT_FALSE(hh(1, 25));
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{notAvailable, noTopic, noTopic}));
}

// The real help window on the offscreen platform, reading the compiled fixture.
class HelpWindowTest : public HelpTest {
protected:
    platform::QtHelpViewer viewer;
    void SetUp() override
    {
        HelpTest::SetUp();
        dm.SetHelpViewer(&viewer);
    }
    QString shownText() const { return viewer.window() ? viewer.window()->toPlainText() : QString(); }
};

TEST_F(HelpWindowTest, ContentsAndTopicPagesAreShownFromTheHelpFile)
{
    installFixture("Tavrel.chm");
    EXPECT_TRUE(hh(0, 0));
    ASSERT_NE(viewer.window(), nullptr);
    EXPECT_TRUE(viewer.window()->isVisible());
    EXPECT_TRUE(shownText().contains(QStringLiteral("Графики работы")));
    EXPECT_TRUE(shownText().contains(QStringLiteral("Праздничные дни")));

    EXPECT_TRUE(hh(1, 25));
    EXPECT_TRUE(shownText().contains(QStringLiteral("Страница темы 25.")));
    EXPECT_EQ(viewer.window()->windowTitle(), QStringLiteral("Tavrel"));

    // A link of the page leads to another page of the same file.
    viewer.window()->setSource(viewer.window()->source().resolved(QUrl(QStringLiteral("index.html"))));
    EXPECT_TRUE(shownText().contains(QStringLiteral("Справка программы учёта рабочего времени.")));
    EXPECT_TRUE(messages.all().empty());
}

TEST_F(HelpWindowTest, MissingForeignAndDamagedHelpFiles)
{
    const struct {
        const char* name;
        const char* fixture;               // nullptr: no file; "" : a text file
        std::vector<std::string> messages; // for contents, then topic 25
    } rows[] = {
        {"missing", nullptr, {notFound, notFound}},
        {"not a help file", "", {notAvailable, noTopic}},
        {"damaged", "damaged.chm", {notAvailable, noTopic}},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(helpFile);
        if (row.fixture && *row.fixture)
            installFixture(row.fixture);
        else if (row.fixture)
            testsupport::writeFileBytes(helpFile, "<html>not compiled</html>");
        messages.clear();
        EXPECT_FALSE(hh(0, 0)) << row.name;
        EXPECT_FALSE(hh(1, 25)) << row.name;
        EXPECT_EQ(messages.texts(), row.messages) << row.name;
        EXPECT_EQ(viewer.window(), nullptr) << row.name << ": no window is opened";
    }
}

TEST_F(HelpWindowTest, ATopicTheFileLacksKeepsTheWindowAsItWas)
{
    installFixture("Tavrel.chm");
    EXPECT_TRUE(hh(1, 7));
    EXPECT_FALSE(hh(1, 99));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noTopic});
    EXPECT_TRUE(shownText().contains(QStringLiteral("Страница темы 7.")));
}

} // namespace
