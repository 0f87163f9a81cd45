#include "platform/SharedFolder.h"

namespace platform {

// Windows folders pass their access lists on to what is created in them.
void shareWithFolder(const std::filesystem::path&) {}

void createSharedFolders(const std::filesystem::path& folder, std::error_code& ec)
{
    std::filesystem::create_directories(folder, ec);
}

} // namespace platform
