#pragma once
// One archive volume opened for reading at arbitrary offsets.
#include <cstdint>
#include <string>

namespace unrar {

class VolumeFile {
public:
    enum class OpenError { None, Missing, NotAFile, Unreadable };

    VolumeFile() = default;
    ~VolumeFile();
    VolumeFile(const VolumeFile&) = delete;
    VolumeFile& operator=(const VolumeFile&) = delete;
    VolumeFile(VolumeFile&& other) noexcept;
    VolumeFile& operator=(VolumeFile&& other) noexcept;

    OpenError open(const std::string& path);
#ifdef _WIN32
    bool isOpen() const { return file_ != nullptr; }
#else
    bool isOpen() const { return fd_ >= 0; }
#endif
    uint64_t size() const { return size_; }
    // Reads up to `n` bytes at `offset`; returns the count read, -1 on error.
    long long readAt(uint64_t offset, void* buffer, size_t n) const;
    // Reads exactly `n` bytes or fails.
    bool readExact(uint64_t offset, void* buffer, size_t n) const
    {
        return readAt(offset, buffer, n) == static_cast<long long>(n);
    }

private:
    void close();
#ifdef _WIN32
    void* file_ = nullptr;
#else
    int fd_ = -1;
#endif
    uint64_t size_ = 0;
};

bool fileExists(const std::string& path);

} // namespace unrar
