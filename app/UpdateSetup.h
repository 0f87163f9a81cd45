#pragma once
// What one update run needs to know of the workstation, handed to it by the
// front end from what start-up found, so that the run depends on nothing
// process-wide.
#include <filesystem>
#include <string>

// Whether a run asks the source first.
enum class UpdateMode {
    Always,    // fetch and install the published release (the dialog's button)
    IfChanged, // only when it differs from the release installed last
    CheckOnly, // only tell whether it differs; change nothing
};

struct UpdateSetup {
    // The program folder the release is installed into (8-bit ANSI, ending
    // in a path separator).
    std::string programFolder;
    // Download the release over HTTP into the current directory; otherwise
    // copy the file into the program folder.
    bool http = false;
    // The settings file that may hold the publisher's public key; read afresh
    // for every run. Empty: no key.
    std::filesystem::path settingsFile;
    UpdateMode mode = UpdateMode::Always;
};
