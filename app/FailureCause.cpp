#include "FailureCause.h"

#include "platform/TextCodec.h"

#include <cerrno>

std::u16string failureCause(const std::error_code& error)
{
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (error.value()) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG: return kNoSpaceCause;
        case EACCES:
        case EPERM: return u"нет прав на запись, файл не может быть заменён";
        case EBUSY:
        case ETXTBSY: return u"файл занят другой программой и не может быть заменён";
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
