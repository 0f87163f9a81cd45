#include "update/ProtectedFiles.h"

#include "platform/FileOps.h"
#include "update/UpdateFolder.h"
#include "update/UpdateSetup.h"

#include <cctype>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Names of the program's own files compare without regard to case, as on the
// system they come from.
bool sameNameIgnoringCase(const std::string& name, const std::string& own)
{
    if (name.size() != own.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(own[i])))
            return false;
    }
    return true;
}

} // namespace

bool isProtectedFile(const fs::path& programFolder, const fs::path& relative,
                     const std::vector<fs::path>& protectedFiles)
{
    if (sameNameIgnoringCase(relative.generic_string(), kSettingsFileName))
        return true;
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(platform::plainPath(programFolder / relative), ec);
    for (const fs::path& file : protectedFiles) {
        std::error_code ignored;
        if (!ec && platform::samePathText(fs::weakly_canonical(platform::plainPath(file), ignored), target))
            return true;
    }
    return false;
}

bool isUpdatersOwn(const fs::path& relative)
{
    return !relative.empty() && (sameNameIgnoringCase(relative.begin()->string(), kUpdateFolderName) ||
                                 sameNameIgnoringCase(relative.generic_string(), kLocalArchiveName));
}
