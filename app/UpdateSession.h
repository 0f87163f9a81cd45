#pragma once
// Held by a front end from its start to its end: the update lock of the
// program folder, taken before the database is connected, and the recovery
// of an interrupted update right after it. A second updater in the same
// folder does not wait and touches nothing.
#include "app/UpdateFolder.h"
#include "platform/FileLock.h"
#include "platform/Messages.h"

#include <memory>

class UpdateSession {
public:
    // Takes the lock and recovers; tells the user when another updater
    // holds the folder or a recovery was made. Exceptions of the recovery
    // (a file that cannot be put back) reach the caller.
    UpdateSession(const std::filesystem::path& programFolder, platform::Messages& messages);

    // Another updater runs in this folder; the program must end.
    bool busy() const { return lock_ && lock_->state() == platform::FileLock::State::Busy; }

private:
    std::unique_ptr<platform::FileLock> lock_;
};

inline constexpr const char16_t* kUpdateBusyText =
    u"Обновление уже выполняется в папке программы другим экземпляром программы обновления. Дождитесь его окончания.";
