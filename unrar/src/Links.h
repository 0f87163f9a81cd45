#pragma once
// Placing links and copies of files that this extraction wrote. Each call
// works on folders already opened below the destination; nothing follows a
// link on the way, and a new name replaces the old one in one rename.
#include <cstdint>
#include <string>
#include <vector>

#include "unrar/src/Destination.h"

namespace unrar {

// Puts a symbolic link `name` -> `target` into `folder`.
int placeSymlink(const DirHandle& folder, const std::string& name, const std::string& target);
// Gives the regular file `sourceName` in `sourceFolder`, which must still be
// the file `expected`, the second name `name` in `folder`.
int placeHardLink(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                  const DirHandle& folder, const std::string& name);
// Copies the regular file `sourceName` in `sourceFolder`, which must still be
// the file `expected`, into `out`.
int copyWrittenFile(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                    OutputFile& out);

enum class PathState { Folders, Missing, Other };
// Walks the components below `root` without following links or creating
// anything: all real folders, one of them not there (yet), or something else
// (a link, a file) on the way.
PathState probeFolders(const DirHandle& root, const std::vector<std::string>& components);

} // namespace unrar
