#pragma once
// The connection parameters dialog: the database system, server, database,
// user and password of one settings section. Its logic is TFCParamLogic;
// this class only lays out the controls and carries values between them.
#include "db/CParamLogic.h"
#include "platform/Messages.h"

#include <QDialog>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TFCParam : public QDialog {
    Q_OBJECT
public:
    explicit TFCParam(platform::Messages& messages, QWidget* parent = nullptr);

    // Section, kind, texts and title for one connection attempt.
    void Fill(const ConnectionParamsRequest& request);
    const TFCParamLogic& Logic() const { return logic_; }

    QLabel* PanelTtl;
    QFrame* Panel1;
    QLabel* Label2;
    QComboBox* ComboDB;
    QLabel* LServ;
    QLineEdit* EServ;
    QLabel* LBD;
    QLineEdit* EBase;
    QLabel* Label3;
    QLineEdit* EUser;
    QLabel* Label4;
    QLineEdit* EPass;
    QPushButton* BBOK;
    QPushButton* BBClose;

    void FormShow();
    void ComboDBChange();
    void BBOKClick();

    // Closing the window cancels, as the Exit button does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placePanels();
    void readControls();
    void writeControls();

    platform::Messages& messages_;
    TFCParamLogic logic_;
};

// The dialog while it is shown by connecting; nullptr otherwise.
extern TFCParam* FCParam;
