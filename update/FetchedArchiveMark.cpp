#include "FetchedArchiveMark.h"

#include "platform/FileOps.h"
#include "update/RecordFile.h"
#include "update/UpdateRun.h"

#include <system_error>

namespace {

constexpr const char* kKind = "tavrel fetched archive 1";

} // namespace

FetchedArchiveMark::FetchedArchiveMark(const UpdateFolder& folder, const std::string& archive) : folder_(folder)
{
    try {
        writeRecordFile(folder_.fetchedMark(), kKind, {{"archive", archive}}, false);
    } catch (const std::system_error&) {
    }
}

FetchedArchiveMark::~FetchedArchiveMark()
{
    std::error_code ignored;
    std::filesystem::remove(folder_.fetchedMark(), ignored);
}

void removeArchiveOfKilledRun(const UpdateFolder& folder)
{
    const auto fields = readRecordFile(folder.fetchedMark(), kKind);
    if (fields) {
        const auto archive = fields->find("archive");
        // Only the updater's own archive name: the mark must not be a way to
        // delete any file.
        if (archive != fields->end() &&
            platform::toPath(archive->second).filename() == std::filesystem::path(kLocalArchiveName)) {
            platform::removeFile(archive->second);
            platform::removeFile(archive->second + ".minisig");
        }
    }
    std::error_code ignored;
    std::filesystem::remove(folder.fetchedMark(), ignored);
}
