#pragma once
// The hidden folder inside the program folder where an update does its work:
// the lock that keeps updaters apart, the release unpacked before it is
// installed, the files it replaced and the journal of the install. It lies
// in the program folder so that installing is renaming within one file
// system. After every run that ended it holds the lock file, the record of
// the release installed last with its .zck, and an HTTP download that was
// cut, to resume.
#include "platform/FileOps.h"

#include <filesystem>

inline constexpr const char* kUpdateFolderName = ".tavrel-update";

struct UpdateFolder {
    // Its paths, and those of the program's files, may pass 260 characters on Windows.
    explicit UpdateFolder(const std::filesystem::path& programFolder)
        : program(platform::extendedPath(programFolder)), root(program / kUpdateFolderName)
    {}

    std::filesystem::path program;
    std::filesystem::path root;
    std::filesystem::path lock() const { return root / "lock"; }
    std::filesystem::path journal() const { return root / "journal"; }
    std::filesystem::path staging() const { return root / "staging"; }
    std::filesystem::path backup() const { return root / "backup"; }
    // The record of the release installed last.
    std::filesystem::path installed() const { return root / "installed"; }
    // An HTTP download that stopped, kept to be resumed, and what it is.
    std::filesystem::path partialDownload() const { return root / "download.part"; }
    std::filesystem::path partialDownloadInfo() const { return root / "download.info"; }
    // The .zck of the release installed last, the base of the next delta
    // update, and the one of the release being installed, which replaces it
    // once the install has committed.
    std::filesystem::path keptZck() const { return root / "release.zck"; }
    std::filesystem::path pendingZck() const { return root / "release.zck.new"; }
    // Names the fetched archive while a run is between fetching and the end
    // of its install, so that a start after a kill removes it.
    std::filesystem::path fetchedMark() const { return root / "fetched"; }
};
