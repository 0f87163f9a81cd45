#pragma once
// Writing extracted entries. Every file goes to a temporary name in its
// final folder and is renamed into place only when the caller commits it,
// so a failed entry never replaces a good file. Folders below the
// destination are entered without following links, so nothing lands
// outside it.
#include <compare>
#include <cstdint>
#include <string>
#include <vector>

namespace unrar {

// Identifies a file or folder on its device, so that a name met again can
// be checked to be the same object.
struct FileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileId&) const = default;
    auto operator<=>(const FileId&) const = default;
};

struct EntryMeta {
    bool unixHost = false;
    uint32_t attributes = 0;
    uint64_t mtime = 0; // FILETIME, 0 = leave as is
    uint64_t atime = 0;
};

class DirHandle {
public:
    DirHandle() = default;
#ifdef _WIN32
    // Windows has no openat: the folder is held open (so that it can be
    // neither renamed nor replaced meanwhile) and entered by its full path.
    DirHandle(void* handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
    DirHandle(DirHandle&& o) noexcept : handle_(o.handle_), path_(std::move(o.path_)) { o.handle_ = nullptr; }
    void* get() const { return handle_; }
    const std::wstring& path() const { return path_; }
    bool valid() const { return handle_ != nullptr; }
#else
    explicit DirHandle(int fd) : fd_(fd) {}
    DirHandle(DirHandle&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
#endif
    ~DirHandle();
    DirHandle& operator=(DirHandle&& o) noexcept;
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;
    FileId id() const;

private:
#ifdef _WIN32
    void* handle_ = nullptr;
    std::wstring path_;
#else
    int fd_ = -1;
#endif
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Returns an ERAR_* code.
    int create(DirHandle folder, const std::string& finalName);
    bool write(const void* data, size_t size);
    int commit(const EntryMeta& meta);
    void discard();
    // The committed file.
    const FileId& id() const { return id_; }

private:
    DirHandle folder_;
    std::string finalName_;
    std::string tempName_;
#ifdef _WIN32
    void* file_ = nullptr;
#else
    int fd_ = -1;
#endif
    FileId id_;
};

// Opens (creating as needed) the folder given by the caller.
int openFolder(const std::string& path, DirHandle& out);
// Walks `components` below `root`, creating folders and refusing links.
int openBelow(const DirHandle& root, const std::vector<std::string>& components, DirHandle& out);
// Creates the folder `name` in `parent` (or accepts an existing one) and
// gives it the entry's mode and time.
int makeFolder(const DirHandle& parent, const std::string& name, const EntryMeta& meta);

} // namespace unrar
