#include "platform/SharedFolder.h"

namespace platform {

unsigned modeForNewEntry(unsigned folderMode, unsigned mode, bool directory)
{
    constexpr unsigned groupWrite = 020;
    constexpr unsigned groupReadWrite = 060;
    constexpr unsigned groupSearch = 010;
    constexpr unsigned setGroupId = 02000;
    if ((folderMode & groupWrite) == 0)
        return mode;
    mode |= groupReadWrite;
    if (directory)
        mode |= groupSearch | (folderMode & setGroupId);
    return mode;
}

} // namespace platform
