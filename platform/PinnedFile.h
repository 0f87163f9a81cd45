#pragma once
// A file held open from the moment it was checked, so that whatever reads it
// later by name reads the same file, even when another process renames,
// deletes or replaces the name in between. A change of its content in place
// is not prevented but noticed.
#include <string>

namespace platform {

class PinnedFile {
public:
    // Opens `path` for reading. Not open() when it cannot.
    explicit PinnedFile(const std::string& path);
    ~PinnedFile();
    PinnedFile(const PinnedFile&) = delete;
    PinnedFile& operator=(const PinnedFile&) = delete;

    bool open() const { return fd_ >= 0; }
    // A name by which the opened file itself is reached (on Linux through the
    // process's descriptor table), for readers that take a file name.
    std::string readPath() const;
    // True while the file has not been written since it was opened.
    bool unchanged() const;

private:
    int fd_ = -1;
    long long size_ = 0;
    long long modified_ = 0;
    long long changed_ = 0;
    unsigned long links_ = 0;
};

} // namespace platform
