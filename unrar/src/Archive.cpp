#include "unrar/src/Archive.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "unrar/src/Blake2sp.h"
#include "unrar/src/Crc32.h"
#include "unrar/src/Destination.h"
#include "unrar/src/Rar29Entry.h"
#include "unrar/src/Rar5Entry.h"
#include "unrar/src/SafePath.h"
#include "unrar/src/TextConvert.h"
#include "unrar/src/VolumeNames.h"

namespace unrar {
namespace {

// Blocks handed to the application and written at once; a stored entry
// goes from the archive to the file in blocks of this size.
constexpr size_t kBlockSize = 4 << 20;
// RAR itself limits comments to 256 KB; a larger one is damage.
constexpr uint64_t kMaxComment = 1 << 20;
// Asking again for a volume the application cannot supply must end.
constexpr int kMaxVolumeAsks = 100;

} // namespace

EntryMeta metaOf(const Entry& e)
{
    EntryMeta m;
    m.unixHost = e.unixHost;
    m.attributes = e.attributes;
    m.mtime = e.mtime;
    m.atime = e.atime;
    return m;
}

int Archive::openVolume(const std::string& path, VolumeFile& file, MainInfo& info,
                        std::unique_ptr<FormatReader>& reader)
{
    switch (file.open(path)) {
    case VolumeFile::OpenError::None: break;
    case VolumeFile::OpenError::NotAFile: return ERAR_EREAD;
    default: return ERAR_EOPEN;
    }
    uint64_t offset = 0;
    switch (findSignature(file, offset)) {
    case Signature::Rar4: reader = makeRar4Reader(); break;
    case Signature::Rar5: reader = makeRar5Reader(); break;
    case Signature::Unsupported: return ERAR_UNKNOWN_FORMAT;
    case Signature::None: return ERAR_BAD_ARCHIVE;
    }
    if (reader->readMain(file, offset, info) != ReadStatus::Ok)
        return ERAR_EREAD;
    return ERAR_SUCCESS;
}

std::unique_ptr<Archive> Archive::open(const OpenRequest& request, int& result)
{
    std::unique_ptr<Archive> a(new Archive());
    a->request_ = request;
    a->callbacks_ = request.callbacks;
    result = a->openVolume(request.path, a->file_, a->main_, a->reader_);
    if (result != ERAR_SUCCESS)
        return nullptr;
    a->volumeName_ = request.path;
    a->volumes_.push_back(request.path);
    a->flags_ = a->main_.archiveFlags;
    a->pos_ = a->main_.firstBlock;
    if (a->main_.encryptedHeaders) {
        // With a callback in the open record the password is asked now, as
        // by the genuine library; otherwise at the first header read.
        if (!a->callbacks_.callback) {
            a->headersLocked_ = true;
            return a;
        }
        result = a->unlockLate();
        if (result != ERAR_SUCCESS)
            return nullptr;
        return a;
    }
    a->scanFirstHeaders();
    // The archive opens; the damage is reported by the first header read.
    if (a->main_.damaged)
        a->finishedCode_ = ERAR_BAD_DATA;
    return a;
}

// Looks ahead, without moving, for the archive comment and for whether this
// volume starts a set.
void Archive::scanFirstHeaders()
{
    uint64_t pos = pos_;
    for (int i = 0; i < 64; ++i) {
        Block b;
        if (reader_->readBlock(file_, pos, b) != ReadStatus::Ok || b.next <= pos)
            break;
        pos = b.next;
        if (b.type == BlockType::End)
            break;
        if (b.type == BlockType::File) {
            if (main_.volume) {
                if (b.entry.splitBefore)
                    flags_ &= ~ROADF_FIRSTVOLUME;
                else
                    flags_ |= ROADF_FIRSTVOLUME;
            }
            break;
        }
        if (b.type != BlockType::Service || b.entry.name != "CMT" || comment_.present)
            continue;
        comment_.present = true;
        flags_ |= ROADF_COMMENT;
        const Entry& c = b.entry;
        if (c.packSize > kMaxComment || c.unpSize > kMaxComment || c.encrypted)
            continue;
        std::string packed(static_cast<size_t>(c.packSize), '\0');
        if (!file_.readExact(c.dataOffset, packed.data(), packed.size()))
            continue;
        std::string text;
        if (c.stored())
            text = packed;
        else if (main_.version == RarVersion::Rar4 ? !unpackRar29(c, packed, text) : !unpackRar5(c, packed, text))
            continue;
        if (crc32Update(0, reinterpret_cast<const unsigned char*>(text.data()), text.size()) != c.crc)
            continue;
        if (main_.version == RarVersion::Rar4 && (c.attributes & 0x01)) {
            std::u16string u(text.size() / 2, u'\0');
            for (size_t k = 0; k < u.size(); ++k)
                u[k] = static_cast<char16_t>(static_cast<unsigned char>(text[2 * k]) |
                                             static_cast<unsigned char>(text[2 * k + 1]) << 8);
            comment_.text = utf16ToWide(u);
        } else {
            comment_.text = main_.version == RarVersion::Rar5 ? utf8ToWide(text) : legacyToWide(text);
        }
        size_t nul = comment_.text.find(L'\0');
        if (nul != std::wstring::npos)
            comment_.text.resize(nul);
        comment_.readable = true;
    }
    if (main_.oldStyleComment)
        comment_.present = true;
}

int Archive::switchVolume()
{
    std::string name = nextVolumeName(volumeName_, main_.newNumbering);
    VolumeFile file;
    MainInfo info;
    std::unique_ptr<FormatReader> reader;
    bool opened = openVolume(name, file, info, reader) == ERAR_SUCCESS;
    if (!opened && main_.newNumbering) {
        std::string old = nextVolumeName(volumeName_, false);
        if (openVolume(old, file, info, reader) == ERAR_SUCCESS) {
            name = old;
            opened = true;
        }
    }
    auto seen = [this](const std::string& n) {
        return std::find(volumes_.begin(), volumes_.end(), n) != volumes_.end();
    };
    // A volume already read cannot come again: that set would never end.
    if (opened && seen(name))
        opened = false;
    for (int asks = 0; !opened; ++asks) {
        if (asks == kMaxVolumeAsks || !callbacks_.askVolume(name))
            return ERAR_EOPEN;
        opened = !seen(name) && openVolume(name, file, info, reader) == ERAR_SUCCESS;
    }
    if (info.version != main_.version || info.encryptedHeaders != main_.encryptedHeaders)
        return ERAR_BAD_DATA;
    if (info.encryptedHeaders) {
        const int r = unlockHeaders(file, info, *reader);
        if (r != ERAR_SUCCESS)
            return r == ERAR_BAD_PASSWORD ? r : ERAR_BAD_DATA;
    }
    if (info.damaged)
        return ERAR_BAD_DATA;
    if (!callbacks_.notifyVolume(name))
        return ERAR_EOPEN;
    file_ = std::move(file);
    reader_ = std::move(reader);
    volumeName_ = name;
    volumes_.push_back(name);
    pos_ = info.firstBlock;
    return ERAR_SUCCESS;
}

int Archive::readHeader()
{
    if (finishedCode_)
        return finishedCode_;
    if (headersLocked_) {
        const int r = unlockLate();
        if (r != ERAR_SUCCESS)
            return r;
    }
    if (headerPending_)
        decodeSkipped();
    // A compressed entry passed over without decoding breaks a solid stream.
    if (rar5_ && current_ && decodesOwn(*current_) && !currentDecoded_)
        rar5_->invalidate();
    currentDecoded_ = false;
    headerPending_ = false;
    if (rar29Owed_) {
        // A file of a solid archive that was not tested or extracted is
        // still decoded: the files after it build on it.
        int r = passOver();
        if (r == ERAR_EOPEN)
            return r;
    }
    for (;;) {
        Block b;
        ReadStatus s = reader_->readBlock(file_, pos_, b);
        if (s == ReadStatus::Broken || s == ReadStatus::BadCrc)
            return ERAR_BAD_DATA;
        const bool followSet = main_.volume && (lastSplitAfter_ || (s == ReadStatus::Ok && b.endNextVolume));
        if (s == ReadStatus::EndOfData || b.type == BlockType::End) {
            if (!followSet)
                return ERAR_END_ARCHIVE;
            lastSplitAfter_ = false;
            int r = switchVolume();
            if (r != ERAR_SUCCESS)
                return r;
            continue;
        }
        // Every block must move forward, or a crafted size would loop forever.
        if (b.next <= pos_)
            return ERAR_BAD_DATA;
        pos_ = b.next;
        if (b.type != BlockType::File)
            continue;
        lastSplitAfter_ = b.entry.splitAfter;
        if (b.entry.splitBefore && request_.mode == RAR_OM_LIST)
            continue;
        if (!b.entry.splitBefore)
            ++ordinal_;
        const Entry& f = b.entry;
        rar29Owed_ = request_.mode == RAR_OM_EXTRACT && main_.version == RarVersion::Rar4 &&
                     (main_.archiveFlags & ROADF_SOLID) && !f.stored() && !f.directory && !f.splitBefore &&
                     isRar29Method(f);
        current_ = std::move(b.entry);
        headerPending_ = true;
        return ERAR_SUCCESS;
    }
}

// Reads (when `sink` is given) or passes over the data of the current entry
// and of its continuations in the following volumes.
int Archive::walkParts(const Sink* sink, uint32_t& crc, uint64_t& total, Entry& part)
{
    part = *current_;
    int result = ERAR_SUCCESS;
    for (;;) {
        if (sink && result == ERAR_SUCCESS) {
            // Only as large as the part needs: zero-filling 4 MiB costs more than a small entry.
            const size_t need = static_cast<size_t>(std::min<uint64_t>(part.packSize, kBlockSize));
            if (buffer_.size() < need)
                buffer_.resize(need);
            uint64_t offset = part.dataOffset;
            uint64_t remaining = part.packSize;
            while (remaining > 0) {
                size_t want = static_cast<size_t>(std::min<uint64_t>(remaining, buffer_.size()));
                long long got = file_.readAt(offset, buffer_.data(), want);
                if (got <= 0) {
                    result = ERAR_BAD_DATA; // the header promised more than the volume holds
                    break;
                }
                size_t n = static_cast<size_t>(got);
                crc = crc32Update(crc, buffer_.data(), n);
                total += n;
                offset += n;
                remaining -= n;
                result = (*sink)(buffer_.data(), n);
                if (result != ERAR_SUCCESS)
                    break;
            }
        }
        if (!part.splitAfter || result != ERAR_SUCCESS)
            return result;
        int r = nextPart(part);
        if (r != ERAR_SUCCESS)
            return r;
    }
}

// Opens the next volume and reads the header of the entry's continuation there.
int Archive::nextPart(Entry& part)
{
    lastSplitAfter_ = false;
    int r = switchVolume();
    if (r != ERAR_SUCCESS)
        return r;
    Block b;
    if (reader_->readBlock(file_, pos_, b) != ReadStatus::Ok || b.type != BlockType::File || !b.entry.splitBefore ||
        b.entry.name != current_->name || b.next <= pos_)
        return ERAR_BAD_DATA;
    pos_ = b.next;
    part = std::move(b.entry);
    lastSplitAfter_ = part.splitAfter;
    return ERAR_SUCCESS;
}

int Archive::passOver()
{
    uint32_t crc = 0;
    uint64_t total = 0;
    Entry last;
    if (rar29Owed_) {
        // The files after it need it decoded: the password is asked for here too.
        if (prepareDecryption(*current_, true) != ERAR_SUCCESS) {
            rar29Owed_ = false;
            if (rar29_)
                rar29_->invalidate();
            return walkParts(nullptr, crc, total, last);
        }
        const int r = decodeRar29(nullptr, false, crc, total, last);
        dropDecryption();
        return r;
    }
    const int r = decodeSkipped();
    if (currentDecoded_)
        return r;
    return walkParts(nullptr, crc, total, last);
}

int Archive::locateBelow(const Entry& e, const char* destPath, DirHandle& root, DirHandle& folder, Place& place)
{
    std::vector<std::string> parts;
    if (!splitSafeRelativePath(e.name, parts))
        return ERAR_ECREATE;
    const int r = openFolder(destPath ? destPath : "", root);
    if (r != ERAR_SUCCESS)
        return r;
    std::string leaf = parts.back();
    parts.pop_back();
    place = Place{root.id(), parts, leaf};
    return openBelow(root, parts, folder);
}

int Archive::locate(const Entry& e, const char* destPath, const char* destName, DirHandle& root, DirHandle& folder,
                    Place& place)
{
    if (destName && *destName) {
        // A name given by the caller: the item sits directly in that folder.
        std::filesystem::path target(destName);
        if (!target.has_filename())
            return ERAR_ECREATE;
        int r = openFolder(target.parent_path().string(), root);
        if (r != ERAR_SUCCESS)
            return r;
        place = Place{root.id(), {}, target.filename().string()};
        return openBelow(root, {}, folder);
    }
    return locateBelow(e, destPath, root, folder, place);
}

int Archive::makeOutput(const Entry& e, const char* destPath, const char* destName, OutputFile& out, Place* place)
{
    DirHandle root, folder;
    Place where;
    const int r = locate(e, destPath, destName, root, folder, where);
    if (r != ERAR_SUCCESS)
        return r;
    if (place)
        *place = where;
    return out.create(std::move(folder), where.leaf);
}

int Archive::extractFolder(const Entry& e, const char* destPath, const char* destName)
{
    if (destName && *destName) {
        std::filesystem::path target(destName);
        DirHandle folder;
        int r = openFolder(target.parent_path().string(), folder);
        if (r != ERAR_SUCCESS)
            return r;
        return target.has_filename() ? makeFolder(folder, target.filename().string(), metaOf(e)) : ERAR_SUCCESS;
    }
    DirHandle root, folder;
    Place place;
    const int r = locateBelow(e, destPath, root, folder, place);
    if (r != ERAR_SUCCESS)
        return r;
    return makeFolder(folder, place.leaf, metaOf(e));
}

int Archive::process(int operation, const char* destPath, const char* destName)
{
    if (finishedCode_)
        return finishedCode_ == ERAR_END_ARCHIVE ? ERAR_SUCCESS : finishedCode_;
    if (!headerPending_ || !current_)
        return ERAR_UNKNOWN;
    headerPending_ = false;
    const Entry e = *current_;
    uint32_t crc = 0;
    uint64_t total = 0;
    Entry last;
    const bool work = request_.mode == RAR_OM_EXTRACT && (operation == RAR_TEST || operation == RAR_EXTRACT);
    if (!work) {
        // A skipped entry of a solid stream is still decoded: the next entry
        // continues its window.
        if (request_.mode == RAR_OM_EXTRACT && operation == RAR_SKIP)
            return decodeSkipped();
        // Listing moves on to the volume that continues the entry within
        // this call, as the genuine library does, so a volume handler runs
        // at the same step with either library.
        if (request_.mode != RAR_OM_EXTRACT && e.splitAfter && main_.volume) {
            lastSplitAfter_ = false;
            return switchVolume();
        }
        return ERAR_SUCCESS; // the position is already past the entry's data
    }
    if (e.splitBefore)
        return ERAR_BAD_DATA; // the previous volume is needed
    // The cipher lives for this entry only; its key is wiped after.
    struct DropCipher {
        Archive* a;
        ~DropCipher() { a->dropDecryption(); }
    } dropCipher{this};
    if (e.crypt.kind != EntryCrypt::Kind::None) {
        const int r = prepareDecryption(e, true);
        if (r != ERAR_SUCCESS)
            return refuseEntry(r);
    }
    const bool extract = operation == RAR_EXTRACT;
    if (e.directory)
        return extract ? extractFolder(e, destPath, destName) : ERAR_SUCCESS;

    if (e.redirType != FSREDIR_NONE)
        return processLink(e, extract, destPath, destName);

    OutputFile out;
    Place place;
    int result = ERAR_SUCCESS;
    if (extract)
        result = makeOutput(e, destPath, destName, out, &place);
    if (result != ERAR_SUCCESS) {
        passOver();
        return result;
    }
    // A stored entry in clear is read here, not by a decoder: its BLAKE2sp
    // digest is taken on the way.
    std::optional<Blake2sp> storedDigest;
    if (e.stored() && !cipher_ && e.hashType == RAR_HASH_BLAKE2)
        storedDigest.emplace();
    Sink sink = [&](const unsigned char* data, size_t size) {
        if (storedDigest)
            storedDigest->update(data, size);
        if (!callbacks_.processData(data, size))
            return int(ERAR_UNKNOWN);
        if (extract && !out.write(data, size))
            return int(ERAR_EWRITE);
        return int(ERAR_SUCCESS);
    };
    if (e.stored()) {
        result = cipher_ ? readStoredEncrypted(extract ? &out : nullptr, crc, total, last)
                         : walkParts(&sink, crc, total, last);
    } else if (main_.version == RarVersion::Rar4) {
        // Only the RAR 2.9 method is decoded; the older ones of RAR 1.5 and 2.0 are not.
        if (isRar29Method(e))
            result = decodeRar29(extract ? &out : nullptr, true, crc, total, last);
        else if ((result = walkParts(nullptr, crc, total, last)) == ERAR_SUCCESS)
            result = ERAR_UNKNOWN_FORMAT;
    } else {
        result = decodeOwn(e, extract ? &out : nullptr, crc, total, last);
    }
    if (result == ERAR_SUCCESS) {
        bool crcOk = !last.hasCrc || storedFormOfCrc(crc) == last.crc;
        bool sizeOk = !e.unpSizeKnown || total == e.unpSize;
        if (!crcOk || !sizeOk || (storedDigest && !digestMatches(storedDigest->finish().data(), last.hash)))
            result = ERAR_BAD_DATA;
    }
    if (!extract)
        return result;
    // A file that fails its check is removed with its temporary name,
    // unless the application asked to keep broken files.
    if (result != ERAR_SUCCESS && !(result == ERAR_BAD_DATA && request_.keepBroken))
        return result;
    const int committed = out.commit(metaOf(e));
    if (committed == ERAR_SUCCESS)
        extracted_.noteFile(place.root, place.path(), out.id());
    return result != ERAR_SUCCESS ? result : committed;
}

} // namespace unrar
