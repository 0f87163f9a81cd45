#include "platform/qt/HelpWindow.h"

#include <QUrl>

namespace platform {

namespace {

const QString kScheme = QStringLiteral("chm");

QString escaped(const std::string& text) { return QString::fromUtf8(text.c_str()).toHtmlEscaped(); }

} // namespace

HelpWindow::HelpWindow(QWidget* owner) : QTextBrowser(owner)
{
    // Its own top-level window, kept above its owner like the system's help window.
    setWindowFlag(Qt::Window);
    setOpenExternalLinks(false);
    resize(720, 540);
}

void HelpWindow::setHelpFile(std::shared_ptr<const HelpChmFile> file, const QString& title)
{
    file_ = std::move(file);
    setWindowTitle(title);
}

QUrl HelpWindow::pageUrl(const std::string& page)
{
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(QString::fromUtf8(page.empty() || page.front() != '/' ? "/" + page : page));
    return url;
}

bool HelpWindow::showPage(const std::string& page)
{
    if (!file_ || !file_->read(page))
        return false;
    setSource(pageUrl(page), QTextDocument::HtmlResource);
    return true;
}

std::vector<HelpChmFile::ContentsEntry> HelpWindow::contentsOf(const HelpChmFile& file)
{
    auto entries = file.contents();
    if (entries.empty()) {
        // A file without a table of contents still lists the pages it can show.
        for (const std::string& page : file.pages())
            if (file.read(page))
                entries.push_back({page, page, 0});
    }
    return entries;
}

void HelpWindow::showContents(const std::vector<HelpChmFile::ContentsEntry>& entries)
{
    QString html = QStringLiteral("<html><body><h3>") + windowTitle().toHtmlEscaped() + QStringLiteral("</h3>");
    for (const auto& entry : entries) {
        html += QStringLiteral("<p style=\"margin-left:%1px\">").arg(entry.level * 20);
        if (entry.page.empty())
            html += escaped(entry.name);
        else
            html += QStringLiteral("<a href=\"") + pageUrl(entry.page).toString().toHtmlEscaped() +
                    QStringLiteral("\">") + escaped(entry.name) + QStringLiteral("</a>");
        html += QStringLiteral("</p>");
    }
    html += QStringLiteral("</body></html>");
    clearHistory();
    setHtml(html);
}

QVariant HelpWindow::loadResource(int type, const QUrl& name)
{
    // Relative links of a page resolve against its "chm:" address.
    if (name.scheme() == kScheme && file_) {
        if (const auto bytes = file_->read(name.path().toStdString()))
            return QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size()));
        return {};
    }
    if (name.isRelative() && file_ && source().scheme() == kScheme)
        return loadResource(type, source().resolved(name));
    return {}; // nothing outside the help file is loaded
}

} // namespace platform
