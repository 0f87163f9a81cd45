#include "platform/qt/QtHelpViewer.h"

#include "platform/TextCodec.h"

#include <QFileInfo>

namespace platform {

QtHelpViewer::~QtHelpViewer() { delete window_.data(); }

bool QtHelpViewer::display(const std::string& address, HelpCommand command)
{
    const HelpAddress where = splitHelpAddress(address);
    std::shared_ptr<const HelpChmFile> file = HelpChmFile::open(where.file);
    if (!file)
        return false;
    // A topic the file lacks shows no window, so the caller can say so.
    if (command == HelpCommand::DisplayTopic && !file->read(where.page))
        return false;
    if (!window_)
        window_ = new HelpWindow(owner_);
    window_->setHelpFile(file, QFileInfo(QString::fromStdU16String(ansiToUtf16(where.file))).completeBaseName());
    if (command == HelpCommand::DisplayTopic)
        window_->showPage(where.page);
    else
        window_->showContents();
    window_->show();
    window_->raise();
    return true;
}

} // namespace platform
