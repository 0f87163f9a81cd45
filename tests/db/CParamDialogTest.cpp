// The real connection parameters dialog on the offscreen platform: shown by
// ConnectDB, clicked through its buttons, read from its fields.
#include "db/CParam.h"

#include "db/DbModule.h"
#include "db/QtConnectionParamsPrompt.h"
#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/RecordingMessages.h"
#include "tests/support/FirebirdTestDb.h"

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

const std::string noConnection = "Нет соединения с БД \"urv\"!";

// Runs action once the dialog is up; the modal loop of ConnectDB is waiting then.
void whileShown(std::function<void(TFCParam&)> action)
{
    QTimer::singleShot(0, [action] {
        if (FCParam && FCParam->isVisible())
            action(*FCParam);
        else
            whileShown(action);
    });
}

class CParamDialogTest : public testing::Test {
protected:
    static inline std::unique_ptr<testsupport::FirebirdTestDb> db;
    static void SetUpTestSuite() { db = std::make_unique<testsupport::FirebirdTestDb>(); }
    static void TearDownTestSuite() { db.reset(); }

    testsupport::TempDir dir{"tavrel-dialog"};
    std::filesystem::path iniPath = dir / "Tavrel.INI";
    platform::RecordingMessages messages;
    QtConnectionParamsPrompt prompt{messages};
    TDbModule dm{messages};
    std::string subd;
    int dialogsShown = 0;

    void SetUp() override
    {
        UserIniFile = std::make_unique<TSettingsFile>(iniPath);
        dm.SetConnectionParamsPrompt(&prompt);
    }
    void TearDown() override { UserIniFile.reset(); }

    void writeSection(int kind, const std::string& server, const std::string& database, const std::string& password)
    {
        writeFileBytes(iniPath, "[LoginU]\nDB=" + std::to_string(kind) + "\nServer=" + server + "\nDatabase=" +
                                    database + "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode(password) + "\n");
    }

    bool connect() { return dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", subd); }
};

TEST_F(CParamDialogTest, LayoutTextsAndTabOrder)
{
    TFCParam form(messages);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf16(u"Параметры соединения с БД"));
    EXPECT_EQ(form.size(), QSize(487, 276));
    EXPECT_TRUE(form.font().bold());
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(form.PanelTtl->height(), 39);
    EXPECT_EQ(form.Panel1->geometry(), QRect(0, 39, 487, 183));

    struct Row {
        QLabel* label;
        const char16_t* caption;
        QWidget* field;
        QRect fieldGeometry;
    };
    const Row rows[] = {
        {form.Label2, u"СУБД", form.ComboDB, QRect(160, 16, 145, 21)},
        {form.LServ, u"Сервер", form.EServ, QRect(160, 48, 237, 21)},
        {form.LBD, u"База данных", form.EBase, QRect(160, 80, 237, 21)},
        {form.Label3, u"Пользователь", form.EUser, QRect(160, 112, 121, 21)},
        {form.Label4, u"Пароль", form.EPass, QRect(160, 144, 121, 21)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.label->text(), QString::fromUtf16(row.caption));
        EXPECT_EQ(row.label->x(), 16);
        EXPECT_EQ(row.label->width(), 135);
        EXPECT_TRUE(row.label->alignment() & Qt::AlignRight);
        EXPECT_EQ(row.field->geometry(), row.fieldGeometry) << row.label->text().toStdString();
        EXPECT_EQ(row.field->parentWidget(), form.Panel1);
    }
    ASSERT_EQ(form.ComboDB->count(), 3);
    EXPECT_EQ(form.ComboDB->itemText(0), "FireBird");
    EXPECT_EQ(form.ComboDB->itemText(1), "MSSQL");
    EXPECT_EQ(form.ComboDB->itemText(2), "Oracle");
    EXPECT_EQ(form.ComboDB->currentIndex(), -1);
    EXPECT_FALSE(form.ComboDB->isEditable());
    EXPECT_EQ(form.EPass->echoMode(), QLineEdit::Password);
    form.EPass->setText(QStringLiteral("secret"));
    EXPECT_EQ(form.EPass->displayText(), QStringLiteral("******"));
    form.EPass->clear();

    EXPECT_EQ(form.BBOK->text(), QString::fromUtf16(u"Выполнить"));
    EXPECT_EQ(form.BBOK->geometry(), QRect(160, 236, 107, 25));
    EXPECT_FALSE(form.BBOK->icon().isNull());
    EXPECT_EQ(form.BBClose->text(), QString::fromUtf16(u"Выход"));
    EXPECT_EQ(form.BBClose->geometry(), QRect(300, 236, 97, 25));
    EXPECT_FALSE(form.BBClose->icon().isNull());

    const QWidget* expectedOrder[] = {form.EServ,   form.EBase, form.EUser,  form.EPass,
                                      form.ComboDB, form.BBOK,  form.BBClose};
    const QWidget* current = form.EServ;
    for (const QWidget* expected : expectedOrder) {
        EXPECT_EQ(current, expected);
        do
            current = current->nextInFocusChain();
        while (current->focusPolicy() == Qt::NoFocus);
    }
}

TEST_F(CParamDialogTest, FailThenCancelWritesNothing)
{
    writeSection(0, "", "/nowhere/urv.fdb", testsupport::embeddedPassword());
    const std::string before = readFileBytes(iniPath);
    whileShown([this](TFCParam& form) {
        ++dialogsShown;
        EXPECT_EQ(form.PanelTtl->text(),
                  QString::fromUtf16(u"Нет соединения с БД \"urv\"!  Укажите параметры подключения:"));
        EXPECT_EQ(form.ComboDB->currentIndex(), 0);
        EXPECT_EQ(form.EBase->text(), "/nowhere/urv.fdb");
        EXPECT_EQ(form.EUser->text(), "SYSDBA");
        EXPECT_EQ(form.EPass->text().toStdString(), testsupport::embeddedPassword());
        EXPECT_EQ(form.focusWidget(), form.EServ);
        form.EBase->setText("/changed/but/cancelled.fdb");
        QTest::mouseClick(form.BBClose, Qt::LeftButton);
    });
    EXPECT_FALSE(connect());
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(FCParam, nullptr);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
    EXPECT_EQ(readFileBytes(iniPath), before);
}

TEST_F(CParamDialogTest, ClosingTheWindowCancels)
{
    writeSection(0, "", "/nowhere/urv.fdb", testsupport::embeddedPassword());
    const std::string before = readFileBytes(iniPath);
    whileShown([](TFCParam& form) { form.close(); });
    EXPECT_FALSE(connect());
    EXPECT_EQ(readFileBytes(iniPath), before);
}

TEST_F(CParamDialogTest, FailThenOkThenSuccess)
{
    writeSection(2, "oraserver", "ORCL", "secret");
    whileShown([this](TFCParam& form) {
        ++dialogsShown;
        // An Oracle section opens with the server field hidden and emptied.
        EXPECT_TRUE(form.EServ->isHidden());
        EXPECT_TRUE(form.LServ->isHidden());
        EXPECT_EQ(form.EServ->text(), "");
        EXPECT_EQ(form.focusWidget(), form.EBase);
        // The user picks Firebird from the list: the server field comes back, empty.
        form.ComboDB->setCurrentIndex(0);
        emit form.ComboDB->activated(0);
        EXPECT_FALSE(form.EServ->isHidden());
        EXPECT_EQ(form.EServ->text(), "");
        form.EBase->setText(QString::fromStdString(db->path().string()));
        QTest::mouseClick(form.BBOK, Qt::LeftButton);
    });
    EXPECT_TRUE(connect());
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(subd, "FB");
    EXPECT_TRUE(dm.FDconUrv.Connected());
    std::string written = readFileBytes(iniPath);
    std::erase(written, '\r'); // lines end as the system's do
    EXPECT_EQ(written, "[LoginU]\nDB=0\nServer=\nDatabase=" + db->path().string() +
                           "\nUserName=SYSDBA\nPassword=" + scramble::XorEncode("secret") + "\n");
}

TEST_F(CParamDialogTest, FailThenOkThenFail)
{
    writeSection(1, "mssqlhost", "urv", testsupport::embeddedPassword());
    whileShown([this](TFCParam& form) {
        ++dialogsShown;
        form.ComboDB->setCurrentIndex(2);
        emit form.ComboDB->activated(2);
        EXPECT_TRUE(form.EServ->isHidden());
        QTest::mouseClick(form.BBOK, Qt::LeftButton);
    });
    EXPECT_FALSE(connect());
    EXPECT_EQ(dialogsShown, 1);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{noConnection});
    EXPECT_EQ(subd, "Ora");
    EXPECT_EQ(UserIniFile->ReadInteger("LoginU", "DB", -1), 2);
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Server", "x"), "");
}

TEST_F(CParamDialogTest, EnterAndEscapeDoNotCloseTheDialog)
{
    writeSection(0, "", "/nowhere/urv.fdb", testsupport::embeddedPassword());
    whileShown([](TFCParam& form) {
        QTest::keyClick(form.EBase, Qt::Key_Return);
        QTest::keyClick(form.EBase, Qt::Key_Escape);
        QTest::keyClick(&form, Qt::Key_Escape);
        EXPECT_TRUE(form.isVisible());
        QTest::mouseClick(form.BBClose, Qt::LeftButton);
    });
    EXPECT_FALSE(connect());
    EXPECT_EQ(UserIniFile->ReadString("LoginU", "Database", ""), "/nowhere/urv.fdb");
}

TEST_F(CParamDialogTest, RefusedWriteIsReportedAndTheDialogStaysOpen)
{
    writeFileBytes(dir / "notAFolder", "");
    UserIniFile = std::make_unique<TSettingsFile>(dir / "notAFolder" / "Tavrel.INI");
    whileShown([this](TFCParam& form) {
        QTest::mouseClick(form.BBOK, Qt::LeftButton);
        EXPECT_TRUE(form.isVisible());
        ASSERT_EQ(messages.all().size(), 1u);
        EXPECT_EQ(messages.all()[0].kind, platform::MessageKind::Error);
        EXPECT_NE(messages.all()[0].text.find((std::filesystem::path("notAFolder") / "Tavrel.INI").string()),
                  std::string::npos)
            << messages.all()[0].text;
        QTest::mouseClick(form.BBClose, Qt::LeftButton);
    });
    EXPECT_FALSE(connect());
    ASSERT_EQ(messages.texts().size(), 2u);
    EXPECT_EQ(messages.texts()[1], noConnection);
}

// Writes a picture of the dialog as the user sees it when connecting has
// failed; run with TAVREL_SCREENSHOT=<file.png>.
TEST_F(CParamDialogTest, Screenshot)
{
    const QByteArray target = qgetenv("TAVREL_SCREENSHOT");
    if (target.isEmpty())
        GTEST_SKIP() << "set TAVREL_SCREENSHOT to a .png path";
    writeSection(0, "dbserver", "/var/lib/tavrel/URV.FDB", "masterkey");
    whileShown([target](TFCParam& form) {
        EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(target)));
        QTest::mouseClick(form.BBClose, Qt::LeftButton);
    });
    dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", subd);
}

} // namespace
