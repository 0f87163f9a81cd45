#pragma once
// While a run holds a fetched archive (from the fetch to the end of its
// install), a small file in the update folder names it. A run that ends
// removes the mark and keeps or deletes the archive as its outcome says; a
// run that was killed leaves the mark, and the next start removes the
// archive it names, so that no 256 MiB "NewExe.zip" stays behind.
#include "update/UpdateFolder.h"

#include <string>

class FetchedArchiveMark {
public:
    // Marks `archive` (an absolute 8-bit path). A mark that cannot be written
    // only loses the clean-up after a kill.
    FetchedArchiveMark(const UpdateFolder& folder, const std::string& archive);
    ~FetchedArchiveMark();
    FetchedArchiveMark(const FetchedArchiveMark&) = delete;
    FetchedArchiveMark& operator=(const FetchedArchiveMark&) = delete;

private:
    UpdateFolder folder_;
};

// At start: removes the archive a killed run left, with its signature, and the mark.
void removeArchiveOfKilledRun(const UpdateFolder& folder);
