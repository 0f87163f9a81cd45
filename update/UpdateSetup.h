#pragma once
// What one update run needs to know of the workstation, handed to it by the
// front end from what start-up found, so that the run depends on nothing
// process-wide.
#include <filesystem>
#include <string>

// Name of the settings file in the program folder; a release never replaces it.
inline constexpr const char* kSettingsFileName = "Tavrel.INI";

// Local name of the fetched archive, whatever its format.
inline constexpr const char* kLocalArchiveName = "NewExe.zip";

// Whether a run asks the source first.
enum class UpdateMode {
    Always,    // fetch and install the published release (the dialog's button)
    IfChanged, // only when it differs from the release installed last
    CheckOnly, // only tell whether it differs; change nothing
};

struct UpdateSetup {
    // The program folder the release is installed into.
    std::filesystem::path programFolder;
    // Download the release over HTTP into the current directory; otherwise
    // copy the file into the program folder.
    bool http = false;
    // The settings file that may hold the publisher's public key; read afresh
    // for every run. Empty: no key.
    std::filesystem::path settingsFile;
    UpdateMode mode = UpdateMode::Always;
};

// Where a run fetches the release to: a download goes into the current
// directory, a copy into the program folder. Each run unpacks the file it
// fetched, so that a stale archive elsewhere is never installed by mistake.
inline std::filesystem::path localArchive(const UpdateSetup& setup)
{
    return setup.http ? std::filesystem::path(kLocalArchiveName) : setup.programFolder / kLocalArchiveName;
}
