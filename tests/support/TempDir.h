#pragma once
// A fresh folder under the system's temporary folder, removed with all its
// content when the object goes away.
#include <filesystem>
#include <map>
#include <string>

namespace testsupport {

class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tavrel-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Makes a folder (created if missing) the current directory for its
// lifetime, and restores the previous one.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::filesystem::path& folder);
    ~CurrentDirectory();
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    std::filesystem::path saved_;
};

// Whole content of a file as bytes; empty when it cannot be read.
std::string readFileBytes(const std::filesystem::path& path);
// Writes bytes to a file, replacing it; throws when it cannot.
void writeFileBytes(const std::filesystem::path& path, const std::string& bytes);
// Relative path -> content of every file and folder below `root` ("<folder>"
// for a folder), to compare whole trees before and after.
std::map<std::string, std::string> folderContents(const std::filesystem::path& root);

} // namespace testsupport
