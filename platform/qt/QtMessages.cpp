#include "QtMessages.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {

namespace {
QString qs(const std::u16string& s) { return QString::fromStdU16String(s); }

void show(QMessageBox::Icon icon, const QString& caption, const QString& text, QWidget* owner)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    // Texts carry paths, URLs and exception texts: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
} // namespace

void QtMessages::error(const std::u16string& text)
{
    show(QMessageBox::Critical, QApplication::applicationDisplayName(), qs(text), QApplication::activeWindow());
}

void QtMessages::information(const std::u16string& text)
{
    show(QMessageBox::Information, QApplication::applicationDisplayName(), qs(text), QApplication::activeWindow());
}

void QtMessages::plain(const std::u16string& text, const std::u16string& caption)
{
    show(QMessageBox::NoIcon, qs(caption), qs(text), nullptr);
}

bool QtMessages::question(const std::u16string& text, const std::u16string& caption)
{
    QMessageBox box(QMessageBox::Question, qs(caption), qs(text), QMessageBox::Yes | QMessageBox::No,
                    QApplication::activeWindow());
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

} // namespace platform
