#pragma once
// Bringing files and folder entries to the disk, so that what an install
// marks as done survives a power cut. Each call throws std::system_error
// naming the path when the system reports a failure.
#include <string>
#include <vector>

namespace platform {

// Writes the data of every file to the disk. The writes of all files are
// started first and then waited for, so the disk works on them together.
void syncFiles(const std::vector<std::string>& files);

// Makes the entries of a folder (files created, renamed or removed in it)
// durable.
void syncFolder(const std::string& folder);

} // namespace platform
