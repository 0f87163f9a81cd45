#include "Durability.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path)
{
    throw std::system_error(errno ? errno : EIO, std::generic_category(), what + " " + path);
}

class Descriptor {
public:
    Descriptor(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

void syncFiles(const std::vector<std::string>& files)
{
    // In batches, to stay far below the limit of open descriptors.
    constexpr std::size_t kBatch = 128;
    for (std::size_t first = 0; first < files.size(); first += kBatch) {
        const std::size_t end = std::min(files.size(), first + kBatch);
        std::vector<Descriptor> open;
        open.reserve(end - first);
        for (std::size_t i = first; i < end; ++i) {
            open.emplace_back(files[i], O_RDONLY);
            if (open.back().get() < 0)
                fail("Cannot open", files[i]);
#ifdef __linux__
            ::sync_file_range(open.back().get(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        }
        for (std::size_t i = first; i < end; ++i) {
            if (::fsync(open[i - first].get()) != 0)
                fail("Cannot write to disk", files[i]);
        }
    }
}

void startWriting(const std::string& file) noexcept
{
#ifdef __linux__
    const Descriptor descriptor(file, O_RDONLY | O_NOFOLLOW);
    if (descriptor.get() >= 0)
        ::sync_file_range(descriptor.get(), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
    (void)file;
#endif
}

void syncFolder(const std::string& folder)
{
    Descriptor dir(folder, O_RDONLY | O_DIRECTORY);
    if (dir.get() < 0)
        fail("Cannot open", folder);
    if (::fsync(dir.get()) != 0)
        fail("Cannot write to disk", folder);
}

} // namespace platform
