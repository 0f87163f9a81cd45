// Link entries of an archive: symbolic links, hard links and file copies.
// They carry no file data for the application, and each is created only
// where it cannot lead outside the destination.

#include "unrar/src/Archive.h"
#include "unrar/src/Crc32.h"
#include "unrar/src/LinkTarget.h"
#include "unrar/src/Links.h"
#include "unrar/src/SafePath.h"
#include "unrar/src/TextConvert.h"

namespace unrar {
namespace {

// A link target longer than this is damage, not a path.
constexpr size_t kMaxLinkTarget = 64 * 1024;

} // namespace

std::string Place::path() const
{
    std::vector<std::string> all = folder;
    all.push_back(leaf);
    return joinComponents(all);
}

int Archive::processLink(const Entry& e, bool extract, const char* destPath, const char* destName)
{
    uint32_t crc = 0;
    uint64_t total = 0;
    Entry last;
    std::string target;
    int result = ERAR_SUCCESS;
    if (main_.version == RarVersion::Rar4) {
        // A RAR 4.x link keeps its target as the entry's data.
        if (e.stored()) {
            Sink collect = [&](const unsigned char* data, size_t size) {
                if (target.size() + size > kMaxLinkTarget)
                    return int(ERAR_BAD_DATA);
                target.append(reinterpret_cast<const char*>(data), size);
                return int(ERAR_SUCCESS);
            };
            result = walkParts(&collect, crc, total, last);
            if (result == ERAR_SUCCESS && last.hasCrc && crc != last.crc)
                result = ERAR_BAD_DATA;
            target = wideToUtf8(legacyToWide(target));
        } else {
            result = walkParts(nullptr, crc, total, last);
            if (result == ERAR_SUCCESS && extract)
                result = ERAR_ECREATE; // a packed target is not decoded here
        }
    } else {
        result = walkParts(nullptr, crc, total, last);
        target = wideToUtf8(e.redirTarget);
    }
    if (result != ERAR_SUCCESS || !extract)
        return result;
    switch (e.redirType) {
    case FSREDIR_UNIXSYMLINK:
    case FSREDIR_WINSYMLINK: return extractSymlink(e, target, destPath, destName);
    case FSREDIR_HARDLINK:
    case FSREDIR_FILECOPY: return extractCopy(e, target, destPath, destName);
    default: return ERAR_ECREATE; // junctions and unknown kinds
    }
}

int Archive::extractSymlink(const Entry& e, const std::string& target, const char* destPath, const char* destName)
{
    DirHandle root, folder;
    Place place;
    int r = locate(e, destPath, destName, root, folder, place);
    if (r != ERAR_SUCCESS)
        return r;
    ResolvedTarget resolved;
    if (!resolveLinkTarget(place.folder, target, resolved))
        return ERAR_ECREATE;
    // An earlier link leads through this name; a link here would take it
    // somewhere it was never checked to go.
    if (extracted_.isPassedThrough(place.root, place.path()))
        return ERAR_ECREATE;
    // Nor may this one lead through a link (or a file) already there.
    for (const std::string& pass : resolved.passes) {
        std::vector<std::string> parts;
        splitSafeRelativePath(pass, parts);
        if (probeFolders(root, parts) == PathState::Other)
            return ERAR_ECREATE;
    }
    std::string text = target;
    if (e.redirType == FSREDIR_WINSYMLINK)
        for (char& c : text)
            if (c == '\\')
                c = '/';
    r = placeSymlink(folder, place.leaf, text);
    if (r == ERAR_SUCCESS)
        extracted_.noteSymlink(place.root, place.path(), resolved.passes);
    return r;
}

int Archive::extractCopy(const Entry& e, const std::string& target, const char* destPath, const char* destName)
{
    DirHandle root, folder;
    Place place;
    int r = locate(e, destPath, destName, root, folder, place);
    if (r != ERAR_SUCCESS)
        return r;
    // The target is another entry's name: only a file this extraction wrote
    // below the same destination will do.
    std::vector<std::string> source;
    if (!splitSafeRelativePath(target, source))
        return ERAR_ECREATE;
    const FileId* written = extracted_.writtenFile(place.root, joinComponents(source));
    if (!written)
        return ERAR_ECREATE;
    const FileId expected = *written;
    const std::string sourceLeaf = source.back();
    source.pop_back();
    DirHandle sourceFolder;
    r = openBelow(root, source, sourceFolder);
    if (r != ERAR_SUCCESS)
        return r;
    if (e.redirType == FSREDIR_HARDLINK) {
        r = placeHardLink(sourceFolder, sourceLeaf, expected, folder, place.leaf);
        if (r == ERAR_SUCCESS)
            extracted_.noteFile(place.root, place.path(), expected);
        return r;
    }
    OutputFile out;
    r = out.create(std::move(folder), place.leaf);
    if (r == ERAR_SUCCESS)
        r = copyWrittenFile(sourceFolder, sourceLeaf, expected, out);
    if (r == ERAR_SUCCESS)
        r = out.commit(metaOf(e));
    if (r == ERAR_SUCCESS)
        extracted_.noteFile(place.root, place.path(), out.id());
    return r;
}

} // namespace unrar
