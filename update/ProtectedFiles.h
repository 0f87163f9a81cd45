#pragma once
// Files of the workstation that a release never replaces (the settings file,
// the embedded database the program is connected to), and names that belong
// to the updater itself.
#include <filesystem>
#include <vector>

// Whether the release's file `relative` (to `programFolder`) is the settings
// file or one of `protectedFiles` (absolute paths).
bool isProtectedFile(const std::filesystem::path& programFolder, const std::filesystem::path& relative,
                     const std::vector<std::filesystem::path>& protectedFiles);

// Entries that would land in the update's own folder (its journal, backup,
// lock) or take the name of the fetched archive, which the run then removes.
bool isUpdatersOwn(const std::filesystem::path& relative);
