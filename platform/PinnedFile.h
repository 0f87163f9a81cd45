#pragma once
// A file held open from the moment it was checked, so that whatever reads it
// later by name reads the same file. POSIX: another process may still rename,
// delete or replace the name, which readPath() is immune to, and a change of
// the content in place is not prevented but noticed. Windows: the file is
// opened sharing reading only, so nobody can write, rename or delete it while
// it is held.
#include <string>

namespace platform {

class PinnedFile {
public:
    // Opens `path` for reading. Not open() when it cannot.
    explicit PinnedFile(const std::string& path);
    ~PinnedFile();
    PinnedFile(const PinnedFile&) = delete;
    PinnedFile& operator=(const PinnedFile&) = delete;

#ifdef _WIN32
    bool open() const { return handle_ != nullptr; }
#else
    bool open() const { return fd_ >= 0; }
#endif
    // A name by which the opened file itself is reached, for readers that
    // take a file name: on Linux through the process's descriptor table, on
    // Windows the file's own name, which cannot change while it is held.
    std::string readPath() const;
    // True while the file has not been written since it was opened.
    bool unchanged() const;
    // Deletes the file under the name it was opened by, when that name still
    // leads to it, and stops holding it. False when the name leads elsewhere
    // now or cannot be deleted.
    bool removeName();

private:
    std::string path_;
    long long size_ = 0;
    long long modified_ = 0;
#ifdef _WIN32
    void* handle_ = nullptr;       // HANDLE of the open file
    unsigned long volume_ = 0;     // the file's identity: its volume's serial number
    unsigned long long index_ = 0; // and its number on that volume
#else
    int fd_ = -1;
    long long changed_ = 0;
    unsigned long links_ = 0;
#endif
};

} // namespace platform
