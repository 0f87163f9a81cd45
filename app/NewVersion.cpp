#include "NewVersion.h"

#include "ExitCodes.h"
#include "Startup.h"
#include "datamodule/MDm.h"
#include "platform/ExceptionReport.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"
#include "platform/qt/ButtonPictures.h"
#include "update/SettingsNumber.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>

TFNewVersion* FNewVersion = nullptr;

void nameApplication() { QApplication::setApplicationName(QStringLiteral("Tavrel")); }

namespace {
constexpr int kClientWidth = 470;
constexpr int kClientHeight = 126;
constexpr int kGroupMargin = 5;
} // namespace

TFNewVersion::TFNewVersion(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder,
                           QWidget* parent)
    : QWidget(parent), dm_(dm), messages_(messages), programFolder_(programFolder), http_(platform::makeHttpClient()),
      run_(std::make_unique<TUpdateRun>(runMessages_, static_cast<UpdateView&>(*this), *http_))
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
    Progress = new QProgressBar(this);
    Progress->setGeometry(318, 88, 140, 23);
    Progress->setTextVisible(true);
    Progress->hide();
    BBRenew->setFocus();

    connect(BBRenew, &QPushButton::clicked, this,
            [this] { platform::runGuarded(messages_, [this] { BBRenewClick(); }); });
    connect(BBClose, &QPushButton::clicked, this,
            [this] { platform::runGuarded(messages_, [this] { BBCloseClick(); }); });

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
    // Copy mode until start-up has read the fetch mode, also when reading it fails.
    setup_ = updateSetup(programFolder_, false);
    // Ends the program once the message loop runs; the dialog is never left
    // open for use.
    const auto endProgram = [this] {
        terminationRequested_ = true;
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    };
    const auto source = startUp(dm_, messages_, programFolder_);
    if (!source)
        return endProgram();
    setup_.http = source->http;
    try {
        run_->setDownloadLimits(readDownloadLimits());
    } catch (const MalformedSetting& error) {
        messages_.error(platform::toUtf16(error.what()));
        return endProgram();
    }
    DENew->setText(QString::fromStdU16String(platform::ansiToUtf16(source->location)));
    if (!source->embeddedDatabase.empty())
        run_->protectFile(platform::toPath(source->embeddedDatabase));
}

void TFNewVersion::BBCloseClick() { close(); }

void TFNewVersion::BBRenewClick()
{
    // The location exactly as the user left it; the "http://" rule is not
    // applied again.
    const std::string source = platform::utf16ToAnsi(DENew->text().toStdU16String());
    if (run_->running())
        return; // the run under way keeps its messages for its row
    runMessages_.clear();
    UpdateOutcome outcome = UpdateOutcome::AlreadyRunning;
    try {
        outcome = run_->BBRenewClick(setup_, source);
    } catch (...) {
        recordFleetRun(dm_.FDconUrv, programFolder_, kUnexpectedError,
                       platform::exceptionText(std::current_exception()));
        throw;
    }
    // Each run leaves its row in the fleet status table, as the command line's do.
    recordFleetRun(dm_.FDconUrv, programFolder_, exitCodeOf(outcome), runMessages_.last());
    Progress->hide();
    if (closeAfterUpdate_)
        close();
}

void TFNewVersion::closeEvent(QCloseEvent* event)
{
    if (!run_->running()) {
        event->accept();
        return;
    }
    event->ignore();
    if (closeAfterUpdate_)
        return;
    const bool stop = messages_.question(u"Идёт обновление. Прервать его и выйти?", windowTitle().toStdU16String());
    if (stop && run_->running()) {
        // A download stops at once; unpacking is finished first, so the
        // program folder never holds half a release because of this.
        closeAfterUpdate_ = true;
        run_->cancel();
    }
}

void TFNewVersion::setRenewEnabled(bool enabled)
{
    BBRenew->setEnabled(enabled);
    if (enabled)
        Progress->hide();
}

bool TFNewVersion::fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    showProgress(done, total);
    return true;
}

void TFNewVersion::unpackProgress(std::uint64_t done, std::uint64_t total) { showProgress(done, total); }

void TFNewVersion::showProgress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    Progress->show();
    if (total && *total > 0) {
        Progress->setRange(0, 1000);
        Progress->setValue(static_cast<int>(std::min<std::uint64_t>(done, *total) * 1000 / *total));
    } else {
        Progress->setRange(0, 0); // size unknown: a busy bar
    }
    // Keeps the dialog painting and answering while the update runs on
    // this thread; the disabled button keeps a second update from starting.
    QApplication::processEvents();
}
