#pragma once
// The help window: shows pages of a compiled help file and follows the links
// between them, reading every page and picture from the file itself.
#include "core/HelpChmFile.h"

#include <QTextBrowser>

#include <memory>
#include <vector>

namespace platform {

using core::HelpChmFile;

class HelpWindow : public QTextBrowser {
public:
    explicit HelpWindow(QWidget* owner = nullptr);

    // The file whose pages the window reads from now on.
    void setHelpFile(std::shared_ptr<const HelpChmFile> file, const QString& title);
    // Shows a page of the file ("25.html"); false when the file lacks it.
    bool showPage(const std::string& page);
    // Shows entries of the table of contents as a page of links.
    void showContents(const std::vector<HelpChmFile::ContentsEntry>& entries);

    // The file's table of contents, or else the pages it can show; empty
    // when it has neither.
    static std::vector<HelpChmFile::ContentsEntry> contentsOf(const HelpChmFile& file);

    QVariant loadResource(int type, const QUrl& name) override;

    // Links inside the help file use this scheme: "chm:/25.html".
    static QUrl pageUrl(const std::string& page);

private:
    std::shared_ptr<const HelpChmFile> file_;
};

} // namespace platform
