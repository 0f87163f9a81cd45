#include "UpdateSession.h"

#include "app/UpdateRecovery.h"
#include "platform/FileOps.h"

#include <system_error>

UpdateSession::UpdateSession(const std::filesystem::path& programFolder, platform::Messages& messages)
{
    const UpdateFolder folder(programFolder);
    std::error_code ec;
    std::filesystem::create_directories(folder.root, ec);
    lock_ = std::make_unique<platform::FileLock>(platform::fromPath(folder.lock()));
    if (busy()) {
        messages.error(kUpdateBusyText);
        return;
    }
    // Without a lock (a folder the user may not write to) nothing can be
    // installed either; recovering without it could undo another's work.
    if (lock_->state() != platform::FileLock::State::Held)
        return;
    const std::u16string report = recoveryMessage(recoverInterruptedUpdate(folder, std::filesystem::current_path(ec)));
    if (!report.empty())
        messages.information(report);
}
