#pragma once
// Keeps a release from disabling the updates after it: before a release is
// installed, the UnRAR library it carries must load and tell its version, and
// each updater executable it carries must start and tell its version. A
// release that breaks them would install, and every later update would fail.
#include <filesystem>
#include <optional>
#include <string>

struct BrokenPart {
    std::filesystem::path entry; // relative to the release
    std::u16string cause;        // in the words of the program's messages
};

// Checks what the release unpacked into `staging` carries of the updater:
// the library named `libraryName` (a file name) and the updater executables.
// Nothing when those parts work or the release carries none of them.
std::optional<BrokenPart> findBrokenUpdaterPart(const std::filesystem::path& staging, const std::string& libraryName);

// What the user is told when the release from `shownArchive` is not
// installed because of `broken`.
std::u16string brokenUpdaterMessage(const BrokenPart& broken, const std::u16string& shownArchive);
