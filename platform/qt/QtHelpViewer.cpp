#include "platform/qt/QtHelpViewer.h"

#include "platform/TextCodec.h"

#include <QFileInfo>

namespace platform {

QtHelpViewer::~QtHelpViewer() { delete window_.data(); }

bool QtHelpViewer::display(const std::string& address, HelpCommand command)
{
    const HelpAddress where = splitHelpAddress(address);
    std::shared_ptr<const HelpChmFile> file =
        window_ && where.file == shownPath_ ? shownFile_ : std::shared_ptr<const HelpChmFile>(HelpChmFile::open(where.file));
    if (!file)
        return false;
    // What cannot be shown opens no window and leaves an open one as it was,
    // so the caller can say so.
    const bool topic = command == HelpCommand::DisplayTopic;
    std::vector<HelpChmFile::ContentsEntry> contents;
    if (topic ? !file->read(where.page) : (contents = HelpWindow::contentsOf(*file)).empty())
        return false;
    if (!window_)
        window_ = new HelpWindow(owner_);
    window_->setHelpFile(file, QFileInfo(QString::fromStdU16String(ansiToUtf16(where.file))).completeBaseName());
    shownPath_ = where.file;
    shownFile_ = file;
    if (topic)
        window_->showPage(where.page);
    else
        window_->showContents(contents);
    window_->show();
    window_->raise();
    return true;
}

} // namespace platform
