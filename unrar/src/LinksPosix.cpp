#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Links.h"

namespace unrar {
namespace {

std::atomic<unsigned> linkCounter{0};

std::string tempName()
{
    return ".unrar-" + std::to_string(::getpid()) + "-l" + std::to_string(linkCounter++) + ".tmp";
}

FileId idOf(const struct stat& st) { return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)}; }

// The name is still the regular file this extraction wrote, not something
// put in its place since.
bool isWrittenFile(const DirHandle& folder, const std::string& name, const FileId& expected)
{
    struct stat st;
    return ::fstatat(folder.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           idOf(st) == expected;
}

// Moves the new object from its temporary name over `name`; rename never
// follows a link at `name` and fails on a folder there.
int moveIntoPlace(const DirHandle& folder, const std::string& temp, const std::string& name)
{
    const int renamed = ::renameat(folder.get(), temp.c_str(), folder.get(), name.c_str());
    // A hard link renamed onto another name of the same file leaves both.
    ::unlinkat(folder.get(), temp.c_str(), 0);
    return renamed == 0 ? ERAR_SUCCESS : ERAR_ECREATE;
}

} // namespace

int placeSymlink(const DirHandle& folder, const std::string& name, const std::string& target)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = tempName();
        if (::symlinkat(target.c_str(), folder.get(), temp.c_str()) == 0)
            return moveIntoPlace(folder, temp, name);
        if (errno != EEXIST)
            break;
    }
    return ERAR_ECREATE;
}

int placeHardLink(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                  const DirHandle& folder, const std::string& name)
{
    if (!isWrittenFile(sourceFolder, sourceName, expected))
        return ERAR_ECREATE;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temp = tempName();
        // No AT_SYMLINK_FOLLOW: a link put at the source name is never followed.
        if (::linkat(sourceFolder.get(), sourceName.c_str(), folder.get(), temp.c_str(), 0) == 0) {
            struct stat st;
            if (::fstatat(folder.get(), temp.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || idOf(st) != expected) {
                ::unlinkat(folder.get(), temp.c_str(), 0);
                return ERAR_ECREATE;
            }
            return moveIntoPlace(folder, temp, name);
        }
        if (errno != EEXIST)
            break;
    }
    return ERAR_ECREATE;
}

int copyWrittenFile(const DirHandle& sourceFolder, const std::string& sourceName, const FileId& expected,
                    OutputFile& out)
{
    if (!isWrittenFile(sourceFolder, sourceName, expected))
        return ERAR_ECREATE;
    // O_NONBLOCK: should a pipe have taken the name since, opening it must
    // not hang; the check below then refuses it.
    const int fd = ::openat(sourceFolder.get(), sourceName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return ERAR_ECREATE;
    DirHandle source(fd); // closes the descriptor
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || idOf(st) != expected)
        return ERAR_ECREATE;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return ERAR_EREAD;
        if (n == 0)
            return ERAR_SUCCESS;
        if (!out.write(buffer.data(), static_cast<size_t>(n)))
            return ERAR_EWRITE;
    }
}

PathState probeFolders(const DirHandle& root, const std::vector<std::string>& components)
{
    int current = ::dup(root.get());
    if (current < 0)
        return PathState::Other;
    DirHandle holder(current);
    for (const std::string& component : components) {
        const int next = ::openat(holder.get(), component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return errno == ENOENT ? PathState::Missing : PathState::Other;
        holder = DirHandle(next);
    }
    return PathState::Folders;
}

} // namespace unrar
