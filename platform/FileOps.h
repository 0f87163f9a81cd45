#pragma once
// File operations of the update on 8-bit paths in the system ANSI code page.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace platform {

// Progress of a long file operation: bytes done and the total. Returning
// false cancels the operation.
using FileProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// The platform form of an 8-bit ANSI path, and back.
std::filesystem::path toPath(const std::string& ansi);
std::string fromPath(const std::filesystem::path& path);
// Whether two paths are the same text as the system compares names: exactly
// on Linux, without regard to case on Windows.
bool samePathText(const std::filesystem::path& a, const std::filesystem::path& b);

// True only for an existing file (links followed); a folder does not count.
bool isExistingFile(const std::string& path);

// `path` made absolute against the current directory, "." and ".." resolved.
std::string absolutePath(const std::string& path);

// The bytes of a file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);

// Deletes a file (never a folder). False when it could not.
bool removeFile(const std::string& path);

// Copies `src` to `dest`, replacing `dest`. The copy is made under a temporary
// name beside `dest` and renamed into place, so a failed copy leaves an old
// `dest` intact. False with `ec` set on failure or cancellation.
bool copyFileReplacing(const std::string& src, const std::string& dest, const FileProgress& progress,
                       std::error_code& ec);

} // namespace platform
