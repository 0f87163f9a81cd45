#pragma once
// The update dialog: the program's only window. Its logic lives in Startup
// (what happens on creation) and in the update run; this class only lays out
// the controls and connects them.
#include "platform/Messages.h"

#include <QWidget>

#include <filesystem>

class QGroupBox;
class QLineEdit;
class QPushButton;
class TMainDM;

class TFNewVersion : public QWidget {
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

    void FormCreate();
    void BBCloseClick();
    void BBRenewClick();

    // True when FormCreate could not connect and asked the program to end.
    bool terminationRequested() const { return terminationRequested_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();

    TMainDM& dm_;
    platform::Messages& messages_;
    std::filesystem::path programFolder_;
    bool terminationRequested_ = false;
};

// The update dialog, set by the program entry.
extern TFNewVersion* FNewVersion;
