#pragma once
// Entries the updater creates in a program folder that several users share
// through a group. Such a folder is group-writable (often setgid), and every
// user who runs the updater there must be able to go on where another left
// off: write into the update folder, resume its download, replace the files
// of the release's folders. So what one user creates follows the folder it
// lies in, whatever that user's umask: the decision is made here only.
#include <filesystem>
#include <system_error>

namespace platform {

// The permission bits for an entry created in a folder of mode `folderMode`,
// given the bits `mode` it was created with: where the folder is
// group-writable, the group may read and write the entry (and search it, if
// it is a folder), and a folder keeps the folder's setgid bit. Elsewhere
// `mode` as it is. Bits as stat gives them (0775, 02000 for setgid).
unsigned modeForNewEntry(unsigned folderMode, unsigned mode, bool directory);

// Gives `entry`, created in the folder that holds it, what modeForNewEntry
// says, and that folder's group where the folder is group-writable. Changes
// nothing where nothing is missing; an entry of another user, which only its
// owner may change, is left as it is. Nothing on Windows, whose folders
// inherit their access lists.
void shareWithFolder(const std::filesystem::path& entry);

// std::filesystem::create_directories, each folder it creates shared as
// shareWithFolder says, the last one also when it was there already (so that
// its owner mends a folder made before).
void createSharedFolders(const std::filesystem::path& folder, std::error_code& ec);

} // namespace platform
