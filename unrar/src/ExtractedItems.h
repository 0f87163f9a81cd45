#pragma once
// What this handle has put below each destination so far: the files it
// wrote (hard links and copies may name only those) and the places that a
// symbolic link it made passes through (no later link may appear there, or
// the earlier one would lead somewhere it was never checked to go).
#include <map>
#include <set>
#include <string>
#include <vector>

#include "unrar/src/Destination.h"

namespace unrar {

class ExtractedItems {
public:
    // `path` is relative to the destination `root`, components joined by '/'.
    void noteFile(const FileId& root, const std::string& path, const FileId& file);
    void noteSymlink(const FileId& root, const std::string& path, const std::vector<std::string>& passes);
    // The file written at `path`, or null.
    const FileId* writtenFile(const FileId& root, const std::string& path) const;
    bool isPassedThrough(const FileId& root, const std::string& path) const;

private:
    struct Tree {
        std::map<std::string, FileId> files;
        std::set<std::string> passages;
    };
    std::map<FileId, Tree> trees_;
};

} // namespace unrar
