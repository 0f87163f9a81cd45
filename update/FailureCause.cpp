#include "FailureCause.h"

#include "platform/TextCodec.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {
constexpr const char16_t* kNoRightsCause = u"нет прав на запись, файл не может быть заменён";
constexpr const char16_t* kBusyCause = u"файл занят другой программой и не может быть заменён";
} // namespace

std::u16string failureCause(const std::error_code& error)
{
#ifdef _WIN32
    // Windows reports its own codes in the system category.
    if (error.category() == std::system_category()) {
        switch (error.value()) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return kNoSpaceCause;
        case ERROR_ACCESS_DENIED: return kNoRightsCause;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return kBusyCause;
        case ERROR_WRITE_PROTECT: return u"диск доступен только для чтения";
        case ERROR_DIR_NOT_EMPTY:
        case ERROR_ALREADY_EXISTS: return kFolderInFilePlace;
        case ERROR_DIRECTORY: return kFileInFolderPlace;
        default: break;
        }
    }
    const bool errnoCode = error.category() == std::generic_category();
#else
    const bool errnoCode = error.category() == std::generic_category() || error.category() == std::system_category();
#endif
    if (errnoCode) {
        switch (error.value()) {
        case ENOSPC:
#ifdef EDQUOT
        case EDQUOT:
#endif
        case EFBIG: return kNoSpaceCause;
        case EACCES:
        case EPERM: return kNoRightsCause;
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return kBusyCause;
        case EROFS: return u"диск доступен только для чтения";
        case EISDIR:
        case ENOTEMPTY:
        case EEXIST: return kFolderInFilePlace;
        case ENOTDIR: return kFileInFolderPlace;
        default: break;
        }
    }
    return u"файл не может быть заменён (" + platform::toUtf16(error.message()) + u")";
}
