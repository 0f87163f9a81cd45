#pragma once
// Staging: the tested release is unpacked whole into the update folder's
// staging area, beside the files it replaces, before anything of the program
// changes. Whatever way the run ends, nothing of the staging area stays
// behind, unless an install could not be undone: the next start needs its
// journal and backup.
#include "RAR_Component/RAR.h"
#include "platform/PinnedFile.h"
#include "update/UpdateFolder.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

// The Unix mode each entry of a release carries, by the entry's name as the
// component lists it; nothing for an entry made on another system.
using EntryModes = std::map<std::u16string, std::optional<unsigned>>;
// Notes the mode of an entry the component's listing reports.
void noteEntryMode(EntryModes& modes, const TRARFileItem& item);

class ReleaseStaging {
public:
    ReleaseStaging(TRAR& rar, const UpdateFolder& folder) : rar_(rar), folder_(folder) {}
    ~ReleaseStaging();
    ReleaseStaging(const ReleaseStaging&) = delete;
    ReleaseStaging& operator=(const ReleaseStaging&) = delete;

    // Unpacks the archive the component has open (held by `pinned`, listed
    // with `modes`) into the staging area and gives each file the permission
    // bits it is to have once installed. Nothing when the whole release lies
    // there; otherwise why not, as the extraction message shows it
    // ("entry: cause").
    std::optional<std::u16string> unpack(const platform::PinnedFile& pinned, const EntryModes& modes);

    // Told by the component's progress of the entry being unpacked.
    void fileStarted(const std::u16string& entryName);

private:
    std::filesystem::path stagedPath(const std::u16string& entryName) const;
    // The entry and why not when a file's bits cannot be set.
    std::optional<std::u16string> setPermissions(const EntryModes& modes) const;
    // The first entry the library reported unpacking that is not in the
    // staging area (a library that wrote it elsewhere), if any.
    std::optional<std::u16string> missingFile() const;

    TRAR& rar_;
    const UpdateFolder& folder_;
    std::u16string current_;            // the entry being unpacked
    std::vector<std::u16string> files_; // every entry whose data went to the staging area
};

// Why the component could not open the archive `shownArchive`, as the user
// is told: without the library no archive opens, and saying so points at the
// program folder, not at the release.
std::u16string openingFailure(const TRAR& rar, const std::u16string& shownArchive);
