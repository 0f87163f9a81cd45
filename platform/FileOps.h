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

// The platform form of an 8-bit ANSI path, and back. On Windows an absolute
// path becomes an extendedPath, and fromPath gives it back without its prefix.
std::filesystem::path toPath(const std::string& ansi);
std::string fromPath(const std::filesystem::path& path);
// A path as a message shows it: every character kept, whatever the ANSI
// code page holds, and without the extended prefix.
std::u16string displayPath(const std::filesystem::path& path);
// On Windows an absolute path in the form that may pass 260 characters
// (\\?\C:\... or \\?\UNC\server\...). The system takes such a path as
// it is, so it is made normal first, with backslashes; whatever is joined to
// it later must use backslashes too. A relative path, and any path elsewhere,
// stays as given.
std::filesystem::path extendedPath(const std::filesystem::path& path);
// The path without that prefix. The C++ library's path arithmetic (absolute,
// canonical, lexically_relative, equivalent) misreads the prefixed form, so it
// is given this one.
std::filesystem::path plainPath(const std::filesystem::path& path);
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
