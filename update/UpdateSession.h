#pragma once
// Held by a front end from its start to its end: the update lock of the
// program folder, taken before the database is connected, and the recovery
// of an interrupted update right after it. A second updater in the same
// folder does not wait and touches nothing; neither does an updater that
// cannot take the lock at all, since it could not keep a second one out.
#include "platform/FileLock.h"
#include "platform/Messages.h"
#include "update/UpdateFolder.h"

#include <memory>

class UpdateSession {
public:
    // Takes the lock and recovers; tells the user when another updater
    // holds the folder, when the lock cannot be taken, or when a recovery
    // was made. Exceptions of the recovery (a file that cannot be put back)
    // reach the caller.
    UpdateSession(const std::filesystem::path& programFolder, platform::Messages& messages);

    // Another updater runs in this folder; the program must end.
    bool busy() const { return state_ == platform::FileLock::State::Busy; }
    // The lock could not be taken (the user was told why); the program must end.
    bool failed() const { return state_ == platform::FileLock::State::Failed; }

private:
    std::unique_ptr<platform::FileLock> lock_;
    platform::FileLock::State state_ = platform::FileLock::State::Failed;
};

inline constexpr const char16_t* kUpdateBusyText =
    u"Обновление уже выполняется в папке программы другим экземпляром программы обновления. Дождитесь его окончания.";
// Followed by the cause and kUpdateLockFailedEnd.
inline constexpr const char16_t* kUpdateLockFailedText = u"Не удалось заблокировать папку программы для обновления: ";
inline constexpr const char16_t* kUpdateLockFailedEnd = u". Обновление не выполнено, папка программы не изменена.";
