#include "UpdateSession.h"

#include "platform/FileOps.h"
#include "platform/SharedFolder.h"
#include "platform/TextCodec.h"
#include "update/UpdateRecovery.h"

#include <cerrno>
#include <system_error>

namespace {

std::u16string quoted(const std::filesystem::path& path)
{
    return u"«" + platform::displayPath(path) + u"»";
}

bool accessDenied(const std::error_code& error)
{
    return error == std::errc::permission_denied || error == std::errc::operation_not_permitted;
}

// Why the update folder could not be made, in the words of the messages.
std::u16string folderCause(const UpdateFolder& folder, const std::error_code& error)
{
    std::error_code ignored;
    if (std::filesystem::exists(folder.root, ignored) && !std::filesystem::is_directory(folder.root, ignored))
        return quoted(folder.root) + u" — файл, а не папка";
    if (accessDenied(error))
        return u"нет прав на создание папки " + quoted(folder.root);
    if (error == std::errc::read_only_file_system)
        return u"диск доступен только для чтения, папка " + quoted(folder.root) + u" не может быть создана";
    return u"папка " + quoted(folder.root) + u" не может быть создана (" + platform::toUtf16(error.message()) + u")";
}

// Why the lock file could not be opened or locked.
std::u16string lockCause(const UpdateFolder& folder, const std::error_code& error)
{
    const std::u16string lock = quoted(folder.lock());
    if (error == std::errc::is_a_directory)
        return lock + u" — папка, а не файл";
    if (error == std::errc::invalid_argument)
        return lock + u" — не обычный файл";
    if (error == std::errc::not_a_directory)
        return quoted(folder.root) + u" — файл, а не папка";
    if (accessDenied(error))
        return u"нет прав на чтение или создание файла " + lock;
    if (error == std::errc::read_only_file_system)
        return u"диск доступен только для чтения, файл " + lock + u" не может быть создан";
    if (error == std::errc::no_lock_available)
        return u"файловая система не поддерживает блокировку файла " + lock;
    return u"файл " + lock + u" не может быть заблокирован (" + platform::toUtf16(error.message()) + u")";
}

} // namespace

UpdateSession::UpdateSession(const std::filesystem::path& programFolder, platform::Messages& messages)
{
    const UpdateFolder folder(programFolder);
    std::error_code ec;
    platform::createSharedFolders(folder.root, ec);
    if (ec) {
        messages.error(kUpdateLockFailedText + folderCause(folder, ec) + kUpdateLockFailedEnd);
        return;
    }
    lock_ = std::make_unique<platform::FileLock>(folder.lock());
    state_ = lock_->state();
    platform::shareWithFolder(folder.lock());
    if (busy()) {
        messages.error(kUpdateBusyText);
        return;
    }
    // Without the lock nothing may be touched: a second updater could be
    // installing at the same time, and recovering could undo its work.
    if (failed()) {
        messages.error(kUpdateLockFailedText + lockCause(folder, lock_->error()) + kUpdateLockFailedEnd);
        return;
    }
    const std::u16string report = recoveryMessage(recoverInterruptedUpdate(folder, std::filesystem::current_path(ec)));
    if (!report.empty())
        messages.information(report);
}
