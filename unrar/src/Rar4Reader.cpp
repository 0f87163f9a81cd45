#include <zlib.h>

#include <algorithm>
#include <vector>

#include "unrar/include/unrar_api.h"
#include "unrar/src/ByteReader.h"
#include "unrar/src/FormatReader.h"
#include "unrar/src/TextConvert.h"
#include "unrar/src/TimeConvert.h"
#include "unrar/src/crypt/AesCbc.h"

namespace unrar {
namespace {

constexpr uint8_t kMain = 0x73, kFile = 0x74, kService = 0x7A, kEnd = 0x7B;
constexpr uint16_t kLongBlock = 0x8000;

struct RawHeader {
    std::vector<uint8_t> bytes; // the whole header, common part included
    uint8_t type = 0;
    uint16_t flags = 0;
    uint64_t end = 0; // file offset just past the header (and its padding)
};

uint16_t crc16(const std::vector<uint8_t>& h, size_t size)
{
    return static_cast<uint16_t>(::crc32(0, h.data() + 2, static_cast<uInt>(size - 2)) & 0xFFFF);
}

ReadStatus checkCrc(const RawHeader& h, uint16_t stored)
{
    const bool checked =
        h.type == kFile || h.type == kService || h.type == kEnd || (h.type == kMain && !(h.flags & 0x0002));
    // Fuzzing builds accept any header CRC so that mutations reach the parser.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    if (checked && crc16(h.bytes, h.bytes.size()) != stored)
        return ReadStatus::BadCrc;
#else
    (void)checked;
    (void)stored;
#endif
    return ReadStatus::Ok;
}

void takeCommonFields(RawHeader& h)
{
    h.type = h.bytes[2];
    h.flags = static_cast<uint16_t>(h.bytes[3] | h.bytes[4] << 8);
}

ReadStatus readRaw(const VolumeFile& file, uint64_t offset, RawHeader& h)
{
    uint8_t common[7];
    size_t got = 0;
    if (ReadStatus s = readBlockStart(file, offset, common, sizeof common, 7, got); s != ReadStatus::Ok)
        return s;
    uint16_t size = static_cast<uint16_t>(common[5] | common[6] << 8);
    if (size < 7)
        return ReadStatus::Broken;
    h.bytes.resize(size);
    if (offset + size > file.size())
        return ReadStatus::EndOfData;
    if (!file.readExact(offset, h.bytes.data(), size))
        return ReadStatus::Broken;
    takeCommonFields(h);
    h.end = offset + size;
    return checkCrc(h, static_cast<uint16_t>(common[0] | common[1] << 8));
}

// An encrypted header: its salt, then the header encrypted on its own
// chain, padded to whole AES blocks.
ReadStatus readEncrypted(const VolumeFile& file, uint64_t offset, crypt::KeyRing& keys, RawHeader& h)
{
    uint8_t salt[8];
    size_t got = 0;
    if (ReadStatus s = readBlockStart(file, offset, salt, sizeof salt, 8, got); s != ReadStatus::Ok)
        return s;
    if (offset + 8 + 16 > file.size())
        return ReadStatus::EndOfData;
    const crypt::Rar3Key& key = keys.rar3(salt);
    crypt::AesCbcDecryptor aes;
    uint8_t first[16];
    if (!aes.start(key.key, 16, key.iv) || !file.readExact(offset + 8, first, 16) || !aes.decrypt(first, 16))
        return ReadStatus::Broken;
    const uint16_t size = static_cast<uint16_t>(first[5] | first[6] << 8);
    if (size < 7)
        return ReadStatus::BadCrc; // what a wrong password most often gives
    const size_t padded = (size_t(size) + 15) & ~size_t(15);
    // Beyond the file: without the whole header its CRC cannot be checked,
    // and a wrong password is far likelier than a cut archive.
    if (offset + 8 + padded > file.size())
        return ReadStatus::BadCrc;
    h.bytes.resize(padded);
    std::copy_n(first, 16, h.bytes.begin());
    if (!file.readExact(offset + 8 + 16, h.bytes.data() + 16, padded - 16) ||
        !aes.decrypt(h.bytes.data() + 16, padded - 16))
        return ReadStatus::Broken;
    h.bytes.resize(size);
    takeCommonFields(h);
    h.end = offset + 8 + padded;
    return checkCrc(h, static_cast<uint16_t>(first[0] | first[1] << 8));
}

// Extended time: per time a 4-bit group of flags, an optional DOS time and
// up to three bytes of 100 ns precision.
void readExtendedTime(ByteReader& r, Entry& e)
{
    uint16_t flags = r.u16();
    uint64_t* targets[3] = {&e.mtime, &e.ctime, &e.atime};
    for (int i = 0; i < 4; ++i) {
        unsigned group = (flags >> (12 - 4 * i)) & 0x0F;
        if (!(group & 0x8))
            continue;
        uint32_t dos = i == 0 ? e.dosTime : r.u32();
        unsigned count = group & 0x3;
        uint32_t fraction = 0;
        for (unsigned j = 0; j < count; ++j)
            fraction |= uint32_t(r.u8()) << (8 * (j + 3 - count));
        if (!r.ok() || i == 3)
            continue;
        int64_t secs = dosLocalToUnix(dos) + ((group & 0x4) ? 1 : 0);
        *targets[i] = unixToFiletime(secs) + fraction;
    }
}

ReadStatus parseFile(const RawHeader& h, Block& block)
{
    ByteReader r(h.bytes.data() + 7, h.bytes.size() - 7);
    Entry& e = block.entry;
    uint64_t pack = r.u32();
    uint64_t unp = r.u32();
    uint8_t host = r.u8();
    e.crc = r.u32();
    e.dosTime = r.u32();
    e.unpVer = r.u8();
    e.method = r.u8();
    uint16_t nameSize = r.u16();
    e.attributes = r.u32();
    bool unknownSize = unp == 0xFFFFFFFFu;
    if (h.flags & 0x0100) {
        uint32_t highPack = r.u32();
        uint32_t highUnp = r.u32();
        unknownSize = unknownSize && highUnp == 0xFFFFFFFFu;
        pack |= uint64_t(highPack) << 32;
        unp |= uint64_t(highUnp) << 32;
    }
    std::string field = r.bytes(nameSize);
    if (h.flags & 0x0400) {
        const std::string salt = r.bytes(8);
        std::copy(salt.begin(), salt.end(), e.crypt.salt);
    }
    if (!r.ok())
        return ReadStatus::Broken;
    if (h.flags & 0x1000) {
        // A damaged time field costs only the precise times, not the entry.
        ByteReader t = r;
        readExtendedTime(t, e);
    }
    if (h.type == kFile && (h.flags & 0x0200))
        e.wideName = decodeRar4UnicodeName(field);
    else
        e.wideName = legacyToWide(field.substr(0, field.find('\0')));
    for (wchar_t& c : e.wideName)
        if (c == L'\\')
            c = L'/';
    e.name = wideToUtf8(e.wideName);

    e.packSize = pack;
    e.unpSize = unp;
    e.unpSizeKnown = !unknownSize;
    e.splitBefore = h.flags & 0x0001;
    e.splitAfter = h.flags & 0x0002;
    e.encrypted = h.flags & 0x0004;
    // The AES scheme of RAR 3.x needs the salt and the RAR 2.9 version or
    // later; the older ciphers of RAR 1.3 to 2.0 are not known here.
    if (e.encrypted)
        e.crypt.kind = (h.flags & 0x0400) && e.unpVer >= 29 ? EntryCrypt::Kind::Rar3 : EntryCrypt::Kind::Unknown;
    e.solid = h.flags & 0x0010;
    e.directory = (h.flags & 0x00E0) == 0x00E0 || (e.unpVer < 20 && (e.attributes & 0x10));
    e.dictKB = e.directory ? 0 : 64u << ((h.flags & 0x00E0) >> 5);
    e.unixHost = host == 3 || host == 5;
    e.hostOS = (host <= 2 || host == 4) ? 2 : 3;
    e.hasCrc = true;
    e.hashType = RAR_HASH_CRC32;
    if (e.unixHost && (e.attributes & 0xF000) == 0xA000)
        e.redirType = FSREDIR_UNIXSYMLINK;
    if (!e.mtime)
        e.mtime = unixToFiletime(dosLocalToUnix(e.dosTime));
    e.dataOffset = h.end;
    block.next = e.dataOffset + pack;
    return ReadStatus::Ok;
}

class Rar4Reader final : public FormatReader {
public:
    RarVersion version() const override { return RarVersion::Rar4; }

    ReadStatus readMain(const VolumeFile& file, uint64_t offset, MainInfo& info) const override
    {
        RawHeader h;
        const ReadStatus s = readRaw(file, offset, h);
        // A main header that the file holds whole opens the archive, whatever
        // it holds: the damage is reported when the headers are walked, as
        // the genuine library does. Only one the file ends inside, or whose
        // size cannot be right, fails the open.
        if (s != ReadStatus::Ok && s != ReadStatus::BadCrc)
            return ReadStatus::Broken;
        if (h.type != kMain || h.bytes.size() < 13) {
            // Nothing of it is trusted, not even its flags.
            info = MainInfo{};
            info.version = RarVersion::Rar4;
            info.damaged = true;
            info.firstBlock = offset + h.bytes.size();
            return ReadStatus::Ok;
        }
        info.damaged = s == ReadStatus::BadCrc;
        info.version = RarVersion::Rar4;
        const uint16_t f = h.flags;
        info.volume = f & 0x0001;
        info.oldStyleComment = f & 0x0002;
        info.newNumbering = f & 0x0010;
        info.encryptedHeaders = f & 0x0080;
        info.firstVolume = info.volume && (f & 0x0100);
        unsigned flags = 0;
        if (f & 0x0001)
            flags |= ROADF_VOLUME;
        if (f & 0x0002)
            flags |= ROADF_COMMENT;
        if (f & 0x0004)
            flags |= ROADF_LOCK;
        if (f & 0x0008)
            flags |= ROADF_SOLID;
        if (f & 0x0010)
            flags |= ROADF_NEWNUMBERING;
        if (f & 0x0040)
            flags |= ROADF_RECOVERY;
        if (f & 0x0080)
            flags |= ROADF_ENCHEADERS;
        if (info.firstVolume)
            flags |= ROADF_FIRSTVOLUME;
        bool reserved = false;
        for (size_t i = 7; i < 13; ++i)
            reserved = reserved || h.bytes[i] != 0;
        if (reserved)
            flags |= ROADF_SIGNED;
        info.archiveFlags = flags;
        info.firstBlock = offset + h.bytes.size();
        return ReadStatus::Ok;
    }

    ReadStatus readBlock(const VolumeFile& file, uint64_t offset, Block& block) const override
    {
        RawHeader h;
        ReadStatus s = keys_ ? readEncrypted(file, offset, *keys_, h) : readRaw(file, offset, h);
        if (s != ReadStatus::Ok)
            return s;
        block = Block{};
        if (h.type == kFile || h.type == kService) {
            block.type = h.type == kFile ? BlockType::File : BlockType::Service;
            if (h.bytes.size() < 32)
                return ReadStatus::Broken;
            return parseFile(h, block);
        }
        uint64_t addSize = 0;
        if (h.flags & kLongBlock) {
            if (h.bytes.size() < 11)
                return ReadStatus::Broken;
            addSize = uint64_t(h.bytes[7]) | uint64_t(h.bytes[8]) << 8 | uint64_t(h.bytes[9]) << 16 |
                      uint64_t(h.bytes[10]) << 24;
        }
        block.next = h.end + addSize;
        if (h.type == kEnd) {
            block.type = BlockType::End;
            block.endNextVolume = h.flags & 0x0001;
        } else if (h.type == kMain || h.type < 0x72) {
            return ReadStatus::Broken;
        } else {
            block.type = BlockType::Other;
        }
        return ReadStatus::Ok;
    }
};

} // namespace

std::unique_ptr<FormatReader> makeRar4Reader() { return std::make_unique<Rar4Reader>(); }

} // namespace unrar
