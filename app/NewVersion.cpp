#include "NewVersion.h"

#include "Startup.h"
#include "platform/ExceptionReport.h"
#include "platform/qt/ButtonPictures.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>

TFNewVersion* FNewVersion = nullptr;

namespace {
constexpr int kClientWidth = 470;
constexpr int kClientHeight = 126;
constexpr int kGroupMargin = 5;
} // namespace

TFNewVersion::TFNewVersion(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder,
                           QWidget* parent)
    : QWidget(parent), dm_(dm), messages_(messages), programFolder_(programFolder)
{
    createControls();
    platform::runGuarded(messages_, [this] { FormCreate(); });
}

TFNewVersion::~TFNewVersion() = default;

void TFNewVersion::createControls()
{
    setWindowTitle(QString::fromUtf8("Обновление программы \"Tavrel\""));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(15);
    setFont(font);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    resize(kClientWidth, kClientHeight);

    // Created in tab order: BBRenew (initial focus), BBClose, then the
    // group box with the location field.
    BBRenew = new QPushButton(checkMarkPicture(), QString::fromUtf8("Выполнить"), this);
    BBRenew->setGeometry(29, 84, 121, 31);
    BBClose = new QPushButton(exitDoorPicture(), QString::fromUtf8("Выход"), this);
    BBClose->setGeometry(182, 84, 121, 31);
    GroupBox1 = new QGroupBox(QString::fromUtf8("Путь к папке обновлений:"), this);
    GroupBox1->setGeometry(kGroupMargin, kGroupMargin, kClientWidth - 2 * kGroupMargin, 66);
    DENew = new QLineEdit(GroupBox1);
    DENew->setGeometry(24, 24, 413, 26);
    BBRenew->setFocus();

    connect(BBRenew, &QPushButton::clicked, this, [this] { platform::runGuarded(messages_, [this] { BBRenewClick(); }); });
    connect(BBClose, &QPushButton::clicked, this, [this] { platform::runGuarded(messages_, [this] { BBCloseClick(); }); });

    if (const QScreen* screen = QApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFNewVersion::resizeEvent(QResizeEvent* event)
{
    // The group box follows the dialog's width; everything else keeps its place.
    GroupBox1->resize(event->size().width() - 2 * kGroupMargin, GroupBox1->height());
    QWidget::resizeEvent(event);
}

void TFNewVersion::FormCreate()
{
    const auto source = startUp(dm_, messages_, programFolder_);
    if (!source) {
        // Ends the program once the message loop runs; the dialog is never
        // left open for use.
        terminationRequested_ = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
        return;
    }
    DENew->setText(QString::fromStdString(source->location));
}

void TFNewVersion::BBCloseClick() { close(); }

void TFNewVersion::BBRenewClick()
{
    // Replaced by the update run.
}
