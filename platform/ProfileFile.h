#pragma once
// Private-profile access to an INI file: there is no copy in memory, every
// read goes to the file and every write reaches it at once. Section and key
// names match without regard to (ASCII) case; a missing file or section reads
// as empty, so every key yields its default.
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class ProfileFile {
public:
    explicit ProfileFile(std::filesystem::path path);

    const std::filesystem::path& path() const { return path_; }

    // The value of the key, without surrounding blanks and without a pair of
    // quotes enclosing it; nothing when the file, the section or the key does
    // not exist or cannot be read.
    std::optional<std::string> read(const std::string& section, const std::string& key) const;

    // Sets one key, creating the file and the section when needed. The file is
    // rewritten under a temporary name in its folder and renamed into place,
    // so a failed write never leaves a truncated file behind. Throws
    // std::runtime_error naming the file when the file system refuses.
    void write(const std::string& section, const std::string& key, const std::string& value);

private:
    std::filesystem::path path_;
};

} // namespace platform
