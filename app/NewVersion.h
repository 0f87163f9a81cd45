#pragma once
// The update dialog: the program's only window. Its logic lives in Startup
// (what happens on creation) and in the update run; this class only lays out
// the controls and connects them.
#include "app/fleet/FleetStatus.h"
#include "platform/HttpClient.h"
#include "platform/Messages.h"
#include "update/UpdateRun.h"
#include "update/UpdateView.h"

#include <QWidget>

#include <filesystem>
#include <memory>

class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class TMainDM;

class TFNewVersion : public QWidget, private UpdateView {
public:
    // Creates the dialog for the program in `programFolder`; FormCreate runs
    // as part of the creation.
    TFNewVersion(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder,
                 QWidget* parent = nullptr);
    ~TFNewVersion() override;

    QPushButton* BBRenew;
    QPushButton* BBClose;
    QGroupBox* GroupBox1;
    QLineEdit* DENew;
    // Progress of a download or an unpacking; hidden while idle.
    QProgressBar* Progress;

    void FormCreate();
    void BBCloseClick();
    void BBRenewClick();

    // True when FormCreate could not connect and asked the program to end.
    bool terminationRequested() const { return terminationRequested_; }

    // The update run with the archive component RAR1.
    TUpdateRun& updateRun() { return *run_; }
    TRAR& RAR1() { return run_->RAR1; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    // While an update runs, closing asks first.
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();

    // UpdateView: the dialog keeps handling events during a long update.
    void setRenewEnabled(bool enabled) override;
    bool fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total) override;
    void unpackProgress(std::uint64_t done, std::uint64_t total) override;
    void showProgress(std::uint64_t done, std::optional<std::uint64_t> total);

    TMainDM& dm_;
    platform::Messages& messages_;
    // What the runs say, kept for the fleet status row of each.
    RunMessages runMessages_{messages_};
    std::filesystem::path programFolder_;
    std::unique_ptr<platform::HttpClient> http_;
    std::unique_ptr<TUpdateRun> run_;
    // What the run is handed: the program folder and its settings file from
    // the start, the fetch mode once start-up has read it.
    UpdateSetup setup_;
    bool terminationRequested_ = false;
    bool closeAfterUpdate_ = false;
};

// The update dialog, set by the program entry.
extern TFNewVersion* FNewVersion;

// Gives the application the product's name, which message boxes take as their
// caption. Only the name is set, not a display name: the window system would
// append a display name to every window title.
void nameApplication();
