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

// Starts writing a file's data to the disk and returns without waiting, so
// that a later syncFiles of the file has less left to wait for. Only a hint:
// a file that cannot be opened is left alone, syncFiles reports failures.
void startWriting(const std::string& file) noexcept;

// Makes the entries of a folder (files created, renamed or removed in it)
// durable.
void syncFolder(const std::string& folder);

} // namespace platform
