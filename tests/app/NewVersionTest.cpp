// The update dialog on the offscreen platform, created against a real
// embedded Firebird database: what FormCreate shows, its messages when
// connecting fails, and the dialog's controls.
#include "app/NewVersion.h"

#include "app/ProcessVariables.h"
#include "datamodule/MDm.h"
#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/RecordingMessages.h"
#include "platform/qt/QtTranslations.h"
#include "tests/app/FleetTable.h"
#include "tests/support/FirebirdTestDb.h"
#include "tests/support/RarWriter.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

using testsupport::writeFileBytes;

namespace {

const std::string kUrvNoConnection = "Нет соединения с БД \"urv\"!";
const std::string kTavrelNoConnection = "Нет соединения с БД \"Tavrel\"! Проверьте раздел [LoginU] файла настроек ";
const std::string kNoLocation = "Путь к обновлению не указан! Проверьте поле NEWVERSIONPASS таблицы TAVREL_PARAMS.";

class NewVersionTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> db;

    static void SetUpTestSuite()
    {
        db = std::make_unique<testsupport::FirebirdTestDb>();
        db->execute("create table TAVREL_PARAMS (NEWVERSIONPASS varchar(255), DOUPDATE varchar(10))");
        db->execute("insert into TAVREL_PARAMS values ('', '')");
    }
    static void TearDownTestSuite() { db.reset(); }

    testsupport::TempDir programFolder{"tavrel-program"};
    platform::RecordingMessages messages;
    TMainDM dm{messages};

    void SetUp() override
    {
        FHttp = false;
        WorkDir.clear();
        writeSettings(db->path().string());
    }
    void TearDown() override { UserIniFile.reset(); }

    void writeSettings(const std::string& database)
    {
        writeFileBytes(programFolder / "Tavrel.INI",
                       "[LoginU]\nDB=0\nServer=\nDatabase=" + database +
                           "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode("masterkey") + "\n");
    }

    static void publish(const std::string& location, const char* doUpdate)
    {
        const std::string value = doUpdate ? "'" + std::string(doUpdate) + "'" : "null";
        db->execute("update TAVREL_PARAMS set NEWVERSIONPASS = '" + location + "', DOUPDATE = " + value);
    }
};

// The next widget that the Tab key moves to.
QWidget* nextTabStop(QWidget* w)
{
    for (QWidget* n = w->nextInFocusChain(); n != w; n = n->nextInFocusChain())
        if (n->focusPolicy() & Qt::TabFocus)
            return n;
    return w;
}

struct LocationCase {
    const char* name;
    const char* stored;
    const char* doUpdate; // nullptr: NULL
    const char* shown;
    bool http;
    bool reportedMissing = false; // the missing-location message is shown
};

const LocationCase kLocationCases[] = {
    {"HttpWithoutSchemeGetsIt", "updates.example/NewExe.zip", "1", "http://updates.example/NewExe.zip", true},
    {"HttpsKeptAsIs", "https://updates.example/a.rar", "1", "https://updates.example/a.rar", true},
    {"HttpAnythingAfterFourLettersKept", "httpx", "1", "httpx", true},
    {"UpperCaseSchemeStillPrefixed", "HTTP://updates.example/a", "1", "http://HTTP://updates.example/a", true},
    {"EmptyHttpLocation", "", "1", "http://", true, true},
    {"EmptyCopyLocation", "", "0", "", false, true},
    {"BlankLocation", "   ", "0", "   ", false, true},
    {"ShorterThanFour", "htt", "1", "http://htt", true},
    {"CopyModeKeepsPath", "/srv/releases/NewExe.zip", "0", "/srv/releases/NewExe.zip", false},
    {"LeadingBlankIsCopyMode", "updates.example/a", " 1", "updates.example/a", false},
    {"ZeroOneIsCopyMode", "http://updates.example/a", "01", "http://updates.example/a", false},
    {"EmptyModeIsCopyMode", "x", "", "x", false},
    {"NullModeIsCopyMode", "x", nullptr, "x", false},
};

TEST_F(NewVersionTest, FormCreateShowsTheLocationByTheFetchMode)
{
    for (const auto& c : kLocationCases) {
        SCOPED_TRACE(c.name);
        publish(c.stored, c.doUpdate);
        FHttp = !c.http;
        TFNewVersion form(dm, messages, programFolder.path());
        form.show();
        EXPECT_TRUE(form.DENew->isVisible());
        EXPECT_EQ(form.DENew->text().toStdString(), c.shown);
        EXPECT_EQ(FHttp, c.http);
        EXPECT_FALSE(form.terminationRequested());
        EXPECT_EQ(messages.texts(),
                  c.reportedMissing ? std::vector<std::string>{kNoLocation} : std::vector<std::string>{});
        messages.clear();
        dm.FDconUrv.Close();
    }
}

TEST_F(NewVersionTest, NullLocationOrNoRowIsReportedAndTheDialogStaysUsable)
{
    const std::pair<const char*, const char*> cases[] = {
        {"NullLocation", "update TAVREL_PARAMS set NEWVERSIONPASS = null, DOUPDATE = '0'"},
        {"NoRow", "delete from TAVREL_PARAMS"},
    };
    for (const auto& [name, sql] : cases) {
        SCOPED_TRACE(name);
        db->execute(sql);
        TFNewVersion form(dm, messages, programFolder.path());
        ASSERT_EQ(messages.all().size(), 1u);
        EXPECT_EQ(messages.all()[0].kind, platform::MessageKind::Error);
        EXPECT_EQ(messages.texts()[0], kNoLocation);
        EXPECT_FALSE(form.terminationRequested());
        EXPECT_TRUE(form.DENew->text().isEmpty());
        messages.clear();
        dm.FDconUrv.Close();
    }
    db->execute("insert into TAVREL_PARAMS values ('', '')");
}

TEST_F(NewVersionTest, FormCreateSetsTheProgramFolderAndTheSettingsFile)
{
    publish("x", "0");
    TFNewVersion form(dm, messages, programFolder.path());
    EXPECT_EQ(WorkDir, programFolder.path().string() + static_cast<char>(std::filesystem::path::preferred_separator));
    ASSERT_TRUE(UserIniFile);
    EXPECT_EQ(UserIniFile->FileName(), std::filesystem::path(WorkDir + "Tavrel.INI"));
    EXPECT_EQ(urvDB, "FB");
}

TEST_F(NewVersionTest, NoConnectionShowsTwoMessagesAndEndsTheProgram)
{
    writeSettings((programFolder / "missing.fdb").string());
    TFNewVersion form(dm, messages, programFolder.path());
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{kUrvNoConnection,
                                        kTavrelNoConnection + (programFolder / "Tavrel.INI").string() + "."}));
    EXPECT_EQ(messages.all()[1].kind, platform::MessageKind::Error);
    EXPECT_TRUE(form.terminationRequested());
    EXPECT_TRUE(form.DENew->text().isEmpty());
}

TEST_F(NewVersionTest, MalformedSettingIsNamedAndEndsTheProgram)
{
    publish("x", "0");
    writeFileBytes(programFolder / "Tavrel.INI",
                   testsupport::readFileBytes(programFolder / "Tavrel.INI") + "[Update]\nMaxDownloadMB=5MB\n");
    TFNewVersion form(dm, messages, programFolder.path());
    ASSERT_EQ(messages.texts().size(), 1u) << ::testing::PrintToString(messages.texts());
    EXPECT_EQ(messages.texts()[0].rfind("В файле настроек " + (programFolder / "Tavrel.INI").string() +
                                            " неверное значение [Update] MaxDownloadMB=5MB: ",
                                        0),
              0u)
        << messages.texts()[0];
    EXPECT_EQ(messages.all()[0].kind, platform::MessageKind::Error);
    EXPECT_TRUE(form.terminationRequested());
}

TEST_F(NewVersionTest, ParameterTableErrorIsReportedAndTheDialogStaysUsable)
{
    testsupport::FirebirdTestDb empty; // no TAVREL_PARAMS table
    writeSettings(empty.path().string());
    FHttp = false;
    TFNewVersion form(dm, messages, programFolder.path());
    ASSERT_EQ(messages.all().size(), 1u);
    EXPECT_EQ(messages.all()[0].kind, platform::MessageKind::Error);
    EXPECT_NE(messages.all()[0].text.find("TAVREL_PARAMS"), std::string::npos) << messages.all()[0].text;
    EXPECT_FALSE(form.terminationRequested());
    EXPECT_TRUE(form.DENew->text().isEmpty());
    EXPECT_FALSE(FHttp);
    dm.FDconUrv.Close();
}

TEST_F(NewVersionTest, ControlsTextsAndLayout)
{
    publish("x", "0");
    TFNewVersion form(dm, messages, programFolder.path());
    EXPECT_EQ(form.windowTitle().toStdString(), "Обновление программы \"Tavrel\"");
    EXPECT_EQ(form.size(), QSize(470, 126));
    EXPECT_EQ(form.BBRenew->text().toStdString(), "Выполнить");
    EXPECT_EQ(form.BBRenew->geometry(), QRect(29, 84, 121, 31));
    EXPECT_EQ(form.BBClose->text().toStdString(), "Выход");
    EXPECT_EQ(form.BBClose->geometry(), QRect(182, 84, 121, 31));
    EXPECT_EQ(form.GroupBox1->title().toStdString(), "Путь к папке обновлений:");
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(5, 5, 460, 66));
    EXPECT_EQ(form.DENew->geometry(), QRect(24, 24, 413, 26));
    EXPECT_FALSE(form.DENew->isReadOnly());
    EXPECT_EQ(form.font().family().toStdString(), "Tahoma");
    EXPECT_EQ(form.font().pixelSize(), 15);

    // Tab order: BBRenew, BBClose, then the location field.
    EXPECT_EQ(nextTabStop(form.BBRenew), form.BBClose);
    EXPECT_EQ(nextTabStop(form.BBClose), form.DENew);
    EXPECT_EQ(nextTabStop(form.DENew), form.BBRenew);

    // Only the group box follows the dialog's width.
    form.show();
    EXPECT_EQ(form.focusWidget(), form.BBRenew) << "initial focus";
    form.resize(600, 200);
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(5, 5, 590, 66));
    EXPECT_EQ(form.BBClose->geometry(), QRect(182, 84, 121, 31));
}

TEST_F(NewVersionTest, ExitClosesTheDialog)
{
    publish("x", "0");
    TFNewVersion form(dm, messages, programFolder.path());
    form.show();
    ASSERT_TRUE(form.isVisible());
    form.BBClose->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(messages.texts().empty());
}

TEST_F(NewVersionTest, RenewCopiesTestsAndUnpacksTheReleaseIntoTheProgramFolder)
{
    testsupport::TempDir releases{"tavrel-releases"};
    const auto archive = tavrel::test::RarWriter(tavrel::test::RarFormat::Rar5)
                             .file("Tavrel.exe", "new program")
                             .directory("Reports")
                             .file("Reports/Month.frx", "new report")
                             .write(releases.path(), "release")
                             .front();
    writeFileBytes(programFolder / "Tavrel.exe", "old program");
    publish(archive.string(), "0");

    testsupport::CurrentDirectory cd(programFolder.path());
    TFNewVersion form(dm, messages, programFolder.path());
    ASSERT_EQ(form.DENew->text().toStdString(), archive.string());
    form.show();
    form.BBRenew->click();

    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Обновление получено.", "Разархивация завершена."}));
    EXPECT_EQ(testsupport::readFileBytes(programFolder / "Tavrel.exe"), "new program");
    EXPECT_EQ(testsupport::readFileBytes(programFolder / "Reports" / "Month.frx"), "new report");
    EXPECT_FALSE(std::filesystem::exists(programFolder / "NewExe.zip"));
    EXPECT_TRUE(form.BBRenew->isEnabled());
    EXPECT_FALSE(form.Progress->isVisible());
    dm.FDconUrv.Close();
}

TEST_F(NewVersionTest, RenewWithAMissingSourceReportsAndCanRunAgain)
{
    publish((programFolder / "nowhere.rar").string(), "0");
    TFNewVersion form(dm, messages, programFolder.path());
    form.BBRenew->click();
    form.BBRenew->click();
    const std::vector<std::string> once{"Файл обновления по указанному пути не найден!", "Не удалось обновить файл!"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(messages.texts(), twice);
    EXPECT_TRUE(form.BBRenew->isEnabled());
    dm.FDconUrv.Close();
}

TEST_F(NewVersionTest, EachRunLeavesItsRowInTheFleetStatusTable)
{
    db->execute(readmeFleetTable());
    publish((programFolder / "nowhere.rar").string(), "0");
    TFNewVersion form(dm, messages, programFolder.path());
    form.BBRenew->click();
    form.BBRenew->click();
    const auto rows = db->select("select PROGRAM_FOLDER, EXIT_CODE, MESSAGE from TAVREL_FLEET");
    db->execute("drop table TAVREL_FLEET");
    EXPECT_EQ(rows, (std::vector<std::vector<std::string>>{
                        {programFolder.path().string(), "1", "Не удалось обновить файл!"}}));
    dm.FDconUrv.Close();
}

struct CloseCase {
    const char* name;
    bool duringUnpacking; // else while the archive is fetched
    bool answer;
    std::vector<std::string> texts;
    bool installed;
    bool stillOpen;
};

// Closing the dialog while an update runs asks first. Yes stops a fetch at
// once and closes the dialog when the run has ended; unpacking is finished
// first. No lets the update go on and keeps the dialog open.
TEST_F(NewVersionTest, ClosingDuringAnUpdateAsksFirst)
{
    const std::string ask = "Идёт обновление. Прервать его и выйти?";
    const std::string got = "Обновление получено.";
    const std::string unpacked = "Разархивация завершена.";
    const std::string failed = "Не удалось обновить файл!";
    const CloseCase cases[] = {
        {"YesWhileFetching", false, true, {ask, failed}, false, false},
        {"NoWhileFetching", false, false, {ask, got, unpacked}, true, true},
        {"YesWhileUnpacking", true, true, {got, ask, unpacked}, true, false},
        {"NoWhileUnpacking", true, false, {got, ask, unpacked}, true, true},
    };

    testsupport::TempDir releases{"tavrel-releases"};
    const auto archive = tavrel::test::RarWriter(tavrel::test::RarFormat::Rar5)
                             .file("Tavrel.exe", "new program")
                             .write(releases.path(), "release")
                             .front();
    publish(archive.string(), "0");
    testsupport::CurrentDirectory cd(programFolder.path());

    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        writeFileBytes(programFolder / "Tavrel.exe", "old program");
        TFNewVersion form(dm, messages, programFolder.path());
        form.show();
        messages.clear();
        messages.setNextAnswer(c.answer);
        // Posted events are handled in the next progress call of the run.
        const auto closeSoon = [&form] { QTimer::singleShot(0, &form, [&form] { form.close(); }); };
        if (c.duringUnpacking)
            messages.onMessage = [&](const platform::RecordedMessage& m) {
                if (m.text == got)
                    closeSoon();
            };
        else
            closeSoon();
        form.BBRenew->click();
        messages.onMessage = nullptr;

        EXPECT_EQ(messages.texts(), c.texts);
        for (const platform::RecordedMessage& m : messages.all())
            if (m.text == ask) {
                EXPECT_EQ(m.kind, platform::MessageKind::Question);
                EXPECT_EQ(m.caption, form.windowTitle().toStdString());
            }
        EXPECT_EQ(testsupport::readFileBytes(programFolder / "Tavrel.exe"),
                  c.installed ? "new program" : "old program");
        EXPECT_EQ(form.isVisible(), c.stillOpen);
        EXPECT_TRUE(form.BBRenew->isEnabled());
        dm.FDconUrv.Close();
    }
}

TEST(ApplicationName, CaptionsMessageBoxesAndLeavesWindowTitlesAlone)
{
    const QString saved = QCoreApplication::applicationName();
    nameApplication();
    EXPECT_EQ(QGuiApplication::applicationDisplayName().toStdString(), "Tavrel");
    // A display name of its own is appended to every window title by the
    // window system; without one it follows the application name.
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    EXPECT_EQ(QGuiApplication::applicationDisplayName().toStdString(), "probe");
    QCoreApplication::setApplicationName(saved);
}

TEST(QtTranslations, StandardButtonsOfMessageBoxesReadInRussian)
{
    ASSERT_TRUE(platform::installRussianQtTranslations(*QCoreApplication::instance()));
    // The standard buttons every message box of the program uses: the
    // close-during-update question and the single OK of the others.
    QMessageBox box(QMessageBox::Question, QStringLiteral("Tavrel"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Ok);
    const auto text = [&box](QMessageBox::StandardButton b) { return box.button(b)->text().remove('&').toStdString(); };
    EXPECT_EQ(text(QMessageBox::Yes), "Да");
    EXPECT_EQ(text(QMessageBox::No), "Нет");
    EXPECT_EQ(text(QMessageBox::Ok), "OK");
}

} // namespace
