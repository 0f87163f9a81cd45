#include "db/CParam.h"

#include "platform/ExceptionReport.h"
#include "platform/qt/ButtonPictures.h"

#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

TFCParam* FCParam = nullptr;

namespace {

constexpr int clientWidth = 487;
constexpr int clientHeight = 276;
constexpr int titleHeight = 39;
constexpr int panelHeight = 183;
constexpr int labelLeft = 16;
constexpr int labelWidth = 135;
constexpr int labelHeight = 13;
constexpr int fieldLeft = 160;
constexpr int fieldHeight = 21;
constexpr int buttonTop = 236;

QString fromUtf16(const char16_t* text) { return QString::fromUtf16(text); }

QLabel* makeRowLabel(QWidget* parent, const char16_t* caption, int top)
{
    auto* label = new QLabel(fromUtf16(caption), parent);
    label->setGeometry(labelLeft, top, labelWidth, labelHeight);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

QLineEdit* makeEdit(QWidget* parent, int top, int width)
{
    auto* edit = new QLineEdit(parent);
    edit->setGeometry(fieldLeft, top, width, fieldHeight);
    return edit;
}

} // namespace

TFCParam::TFCParam(platform::Messages& messages, QWidget* parent) : QDialog(parent), messages_(messages)
{
    setWindowTitle(fromUtf16(u"Параметры соединения с БД"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    font.setBold(true);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    resize(clientWidth, clientHeight);

    PanelTtl = new QLabel(this);
    PanelTtl->setAlignment(Qt::AlignCenter);
    PanelTtl->setFrameShape(QFrame::NoFrame);
    PanelTtl->setStyleSheet(QStringLiteral("QLabel { color: red; }"));

    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setLineWidth(2);

    Label2 = makeRowLabel(Panel1, u"СУБД", 20);
    ComboDB = new QComboBox(Panel1);
    ComboDB->setGeometry(fieldLeft, 16, 145, fieldHeight);
    ComboDB->addItems({QStringLiteral("FireBird"), QStringLiteral("MSSQL"), QStringLiteral("Oracle")});
    ComboDB->setCurrentIndex(-1);
    LServ = makeRowLabel(Panel1, u"Сервер", 52);
    EServ = makeEdit(Panel1, 48, 237);
    LBD = makeRowLabel(Panel1, u"База данных", 84);
    EBase = makeEdit(Panel1, 80, 237);
    Label3 = makeRowLabel(Panel1, u"Пользователь", 116);
    EUser = makeEdit(Panel1, 112, 121);
    Label4 = makeRowLabel(Panel1, u"Пароль", 148);
    EPass = makeEdit(Panel1, 144, 121);
    EPass->setEchoMode(QLineEdit::Password);
    // "*" for each character, as asked, not the style's bullet.
    EPass->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    placePanels();

    BBOK = new QPushButton(checkMarkPicture(), fromUtf16(u"Выполнить"), this);
    BBOK->setGeometry(fieldLeft, buttonTop, 107, 25);
    BBClose = new QPushButton(exitDoorPicture(), fromUtf16(u"Выход"), this);
    BBClose->setGeometry(300, buttonTop, 97, 25);
    // Neither button answers Enter.
    for (QPushButton* button : {BBOK, BBClose}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    // The entries first, the list of systems after them, so that the first
    // visible entry and not the list has the focus on opening.
    setTabOrder(EServ, EBase);
    setTabOrder(EBase, EUser);
    setTabOrder(EUser, EPass);
    setTabOrder(EPass, ComboDB);
    setTabOrder(ComboDB, BBOK);
    setTabOrder(BBOK, BBClose);

    connect(ComboDB, &QComboBox::activated, this, [this] { ComboDBChange(); });
    connect(BBOK, &QPushButton::clicked, this, [this] { BBOKClick(); });
    connect(BBClose, &QPushButton::clicked, this, [this] { done(ConnectionParamsPrompt::mrCancel); });
}

void TFCParam::Fill(const ConnectionParamsRequest& request)
{
    logic_.Fill(request);
    writeControls();
}

void TFCParam::readControls()
{
    logic_.ComboDBIndex = ComboDB->currentIndex();
    logic_.EServ = EServ->text().toStdU16String();
    logic_.EBase = EBase->text().toStdU16String();
    logic_.EUser = EUser->text().toStdU16String();
    logic_.EPass = EPass->text().toStdU16String();
}

void TFCParam::writeControls()
{
    PanelTtl->setText(QString::fromStdU16String(logic_.PanelTtl));
    ComboDB->setCurrentIndex(logic_.ComboDBIndex);
    EServ->setText(QString::fromStdU16String(logic_.EServ));
    EBase->setText(QString::fromStdU16String(logic_.EBase));
    EUser->setText(QString::fromStdU16String(logic_.EUser));
    EPass->setText(QString::fromStdU16String(logic_.EPass));
    EServ->setVisible(logic_.EServVisible);
    LServ->setVisible(logic_.EServVisible);
}

void TFCParam::FormShow()
{
    readControls();
    logic_.FormShow();
    writeControls();
}

void TFCParam::ComboDBChange()
{
    readControls();
    logic_.ComboDBChange();
    writeControls();
}

void TFCParam::BBOKClick()
{
    readControls();
    // A refused write goes to the default report and the dialog stays open.
    platform::runGuarded(messages_, [this] { logic_.BBOKClick(); });
    writeControls();
    if (logic_.ModalResult == ConnectionParamsPrompt::mrOk)
        done(ConnectionParamsPrompt::mrOk);
}

void TFCParam::reject() { done(ConnectionParamsPrompt::mrCancel); }

void TFCParam::showEvent(QShowEvent* event)
{
    FormShow();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
    (EServ->isVisible() ? EServ : EBase)->setFocus(Qt::OtherFocusReason);
}

void TFCParam::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept(); // the dialog closes only through its buttons or its window
        return;
    default: QDialog::keyPressEvent(event);
    }
}

void TFCParam::placePanels()
{
    // Both panels are aligned to the top edge and follow the width.
    PanelTtl->setGeometry(0, 0, width(), titleHeight);
    Panel1->setGeometry(0, titleHeight, width(), panelHeight);
}

void TFCParam::resizeEvent(QResizeEvent* event)
{
    placePanels();
    QDialog::resizeEvent(event);
}
