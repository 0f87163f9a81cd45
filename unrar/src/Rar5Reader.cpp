#include <algorithm>
#include <zlib.h>

#include <string>
#include <vector>

#include "unrar/include/unrar_api.h"
#include "unrar/src/ByteReader.h"
#include "unrar/src/FormatReader.h"
#include "unrar/src/TextConvert.h"
#include "unrar/src/TimeConvert.h"
#include "unrar/src/crypt/AesCbc.h"

namespace unrar {
namespace {

constexpr uint64_t kMaxHeaderSize = 0x200000; // a 3-byte size field
constexpr uint64_t kMaxDataSize = uint64_t(1) << 62;

struct RawHeader {
    std::vector<uint8_t> body; // from the header type to the end of the extra area
    uint64_t type = 0, flags = 0, extraSize = 0, dataSize = 0;
    uint64_t end = 0; // file offset just past the header
};

// The header size field: a vint of at most 3 bytes after the 4-byte CRC.
// Returns false when `avail` bytes end inside it; `broken` when it is invalid.
bool sizeField(const uint8_t* pre, size_t avail, uint64_t& size, size_t& sizeLen, bool& broken)
{
    ByteReader sizeReader(pre + 4, avail - 4);
    size = 0;
    broken = false;
    for (sizeLen = 0; sizeLen < 3; ++sizeLen) {
        uint8_t b = sizeReader.u8();
        if (!sizeReader.ok())
            return false;
        size |= uint64_t(b & 0x7F) << (7 * sizeLen);
        if (!(b & 0x80))
            break;
    }
    broken = sizeLen == 3 || size > kMaxHeaderSize;
    ++sizeLen;
    return true;
}

// Checks the CRC of `all` (size field to the end of the header) and reads the common fields.
ReadStatus parseRaw(std::vector<uint8_t>& all, size_t sizeLen, uint32_t stored, RawHeader& h)
{
    bool crcOk = static_cast<uint32_t>(::crc32(0, all.data(), static_cast<uInt>(all.size()))) == stored;
    // Fuzzing builds accept any header CRC so that mutations reach the parser.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    crcOk = true;
#endif
    h.body.assign(all.begin() + static_cast<long>(sizeLen), all.end());
    ByteReader r(h.body.data(), h.body.size());
    h.type = r.vint();
    h.flags = r.vint();
    if (h.flags & 0x0001)
        h.extraSize = r.vint();
    if (h.flags & 0x0002)
        h.dataSize = r.vint();
    if (!r.ok() || h.extraSize > h.body.size() - r.position() || h.dataSize > kMaxDataSize)
        return ReadStatus::Broken;
    return crcOk ? ReadStatus::Ok : ReadStatus::BadCrc;
}

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

ReadStatus readRaw(const VolumeFile& file, uint64_t offset, RawHeader& h)
{
    uint8_t pre[7];
    size_t got = 0;
    if (ReadStatus s = readBlockStart(file, offset, pre, sizeof pre, 5, got); s != ReadStatus::Ok)
        return s;
    uint64_t size = 0;
    size_t sizeLen = 0;
    bool broken = false;
    if (!sizeField(pre, got, size, sizeLen, broken))
        return ReadStatus::EndOfData; // the file ends inside the size
    if (broken)
        return ReadStatus::Broken;
    if (size == 0) {
        h.end = offset + 4 + sizeLen; // where it ends is known, but it holds nothing
        return ReadStatus::Broken;
    }
    std::vector<uint8_t> all(sizeLen + size);
    if (offset + 4 + all.size() > file.size())
        return ReadStatus::EndOfData;
    if (!file.readExact(offset + 4, all.data(), all.size()))
        return ReadStatus::Broken;
    h.end = offset + 4 + all.size();
    return parseRaw(all, sizeLen, le32(pre), h);
}

// An encrypted header: its IV, then the whole header (CRC included)
// encrypted on its own chain, padded to whole AES blocks.
ReadStatus readEncrypted(const VolumeFile& file, uint64_t offset, const uint8_t key[32], RawHeader& h)
{
    uint8_t iv[16];
    size_t got = 0;
    if (ReadStatus s = readBlockStart(file, offset, iv, sizeof iv, 16, got); s != ReadStatus::Ok)
        return s;
    if (offset + 32 > file.size())
        return ReadStatus::EndOfData;
    crypt::AesCbcDecryptor aes;
    std::vector<uint8_t> plain(16);
    if (!aes.start(key, 32, iv) || !file.readExact(offset + 16, plain.data(), 16) || !aes.decrypt(plain.data(), 16))
        return ReadStatus::Broken;
    uint64_t size = 0;
    size_t sizeLen = 0;
    bool broken = false;
    sizeField(plain.data(), plain.size(), size, sizeLen, broken); // within the first block
    if (broken || size == 0)
        return ReadStatus::BadCrc; // garbage: what a wrong key gives
    const uint64_t length = 4 + sizeLen + size;
    const uint64_t padded = (length + 15) & ~uint64_t(15);
    if (offset + 16 + padded > file.size())
        return ReadStatus::EndOfData;
    plain.resize(static_cast<size_t>(padded));
    if (!file.readExact(offset + 32, plain.data() + 16, plain.size() - 16) ||
        !aes.decrypt(plain.data() + 16, plain.size() - 16))
        return ReadStatus::Broken;
    std::vector<uint8_t> all(plain.begin() + 4, plain.begin() + static_cast<long>(length));
    h.end = offset + 16 + padded;
    return parseRaw(all, sizeLen, le32(plain.data()), h);
}

size_t fieldsStart(const RawHeader& h)
{
    ByteReader r(h.body.data(), h.body.size());
    r.vint();
    r.vint();
    if (h.flags & 0x0001)
        r.vint();
    if (h.flags & 0x0002)
        r.vint();
    return r.position();
}

// The parameters shared by a file's encryption record and the archive
// encryption header. A version or cost not accepted makes them unknown.
void readCryptParams(ByteReader& x, EntryCrypt& c, bool withIv)
{
    const uint64_t version = x.vint();
    const uint64_t flags = x.vint();
    c.kdfCount = x.u8();
    const std::string salt = x.bytes(16);
    const std::string iv = withIv ? x.bytes(16) : std::string(16, '\0');
    c.hasCheck = flags & 0x0001;
    c.mac = withIv && (flags & 0x0002);
    const std::string check = c.hasCheck ? x.bytes(12) : std::string(12, '\0');
    if (!x.ok() || version != 0 || c.kdfCount > crypt::kMaxRar5KdfCount) {
        c.kind = EntryCrypt::Kind::Unknown;
        return;
    }
    c.kind = EntryCrypt::Kind::Rar5;
    std::copy(salt.begin(), salt.end(), c.salt);
    std::copy(iv.begin(), iv.end(), c.iv);
    std::copy(check.begin(), check.end(), c.check);
}

// An entry whose record cannot be used is not reported as encrypted, as
// by the genuine library, and fails when tested or extracted.
void readCryptRecord(ByteReader& x, Entry& e)
{
    ByteReader record = x;
    readCryptParams(record, e.crypt, true);
    e.encrypted = e.crypt.kind == EntryCrypt::Kind::Rar5;
    if (record.ok())
        x = record;
}

void readExtra(ByteReader& x, Entry& e, bool& timeFromRecord)
{
    while (x.remaining() > 0) {
        uint64_t size = x.vint();
        if (!x.ok() || size == 0 || size > x.remaining()) {
            x.skip(x.remaining());
            return;
        }
        size_t recordEnd = x.position() + static_cast<size_t>(size);
        uint64_t type = x.vint();
        switch (type) {
        case 0x01: readCryptRecord(x, e); break;
        case 0x02:
            if (x.vint() == 0) {
                std::string h = x.bytes(32);
                if (x.ok()) {
                    e.hashType = RAR_HASH_BLAKE2;
                    std::copy(h.begin(), h.end(), e.hash);
                }
            }
            break;
        case 0x03: {
            uint64_t f = x.vint();
            bool unixFormat = f & 0x01;
            uint64_t* targets[3] = {&e.mtime, &e.ctime, &e.atime};
            int64_t secs[3] = {};
            bool present[3] = {(f & 0x02) != 0, (f & 0x04) != 0, (f & 0x08) != 0};
            for (int i = 0; i < 3; ++i) {
                if (!present[i])
                    continue;
                if (unixFormat)
                    secs[i] = x.u32();
                else
                    *targets[i] = x.u64();
            }
            if (unixFormat) {
                for (int i = 0; i < 3; ++i) {
                    if (!present[i])
                        continue;
                    uint32_t ns = (f & 0x10) ? x.u32() : 0;
                    *targets[i] = unixToFiletime(secs[i], ns < 1000000000 ? ns : 0);
                }
            }
            if (present[0])
                timeFromRecord = true;
            break;
        }
        case 0x05: {
            uint64_t redir = x.vint();
            uint64_t flags = x.vint();
            uint64_t len = x.vint();
            std::string target = len <= x.remaining() ? x.bytes(static_cast<size_t>(len)) : std::string();
            if (x.ok()) {
                e.redirType = redir >= 1 && redir <= 5 ? static_cast<uint32_t>(redir) : uint32_t(FSREDIR_NONE);
                e.redirTarget = utf8ToWide(target);
                e.dirTarget = flags & 0x01;
            }
            break;
        }
        case 0x04: {
            // An older version of the file kept in the archive: RAR names
            // it with the version number after a ';'.
            x.vint();
            const uint64_t number = x.vint();
            if (x.ok()) {
                e.name += ";" + std::to_string(number);
                e.wideName = utf8ToWide(e.name);
            }
            break;
        }
        default: break;
        }
        if (!x.ok() || x.position() > recordEnd)
            return;
        x.skip(recordEnd - x.position());
    }
}

ReadStatus parseFile(const RawHeader& h, Entry& e)
{
    const size_t extraStart = h.body.size() - static_cast<size_t>(h.extraSize);
    size_t start = fieldsStart(h);
    if (start > extraStart)
        return ReadStatus::Broken;
    ByteReader r(h.body.data() + start, extraStart - start);
    uint64_t fileFlags = r.vint();
    e.unpSize = r.vint();
    uint64_t attributes = r.vint();
    uint32_t mtime = (fileFlags & 0x0002) ? r.u32() : 0;
    if (fileFlags & 0x0004) {
        e.crc = r.u32();
        e.hasCrc = true;
        e.hashType = RAR_HASH_CRC32;
    }
    uint64_t comp = r.vint();
    uint64_t host = r.vint();
    uint64_t nameLen = r.vint();
    if (!r.ok() || nameLen > r.remaining())
        return ReadStatus::Broken;
    std::string name = r.bytes(static_cast<size_t>(nameLen));
    if (!r.ok())
        return ReadStatus::Broken;

    e.directory = fileFlags & 0x0001;
    e.unpSizeKnown = !(fileFlags & 0x0008);
    e.attributes = static_cast<uint32_t>(attributes);
    e.splitBefore = h.flags & 0x0008;
    e.splitAfter = h.flags & 0x0010;
    e.packSize = h.dataSize;
    e.solid = comp & 0x40;
    e.method = 0x30 + static_cast<uint32_t>((comp >> 7) & 7);
    uint64_t algorithm = comp & 0x3F;
    e.unpVer = algorithm == 0 ? 50 : algorithm == 1 ? 70 : 9999;
    if (!e.directory) {
        uint64_t n = algorithm == 0 ? (comp >> 10) & 0x0F : (comp >> 10) & 0x1F;
        uint64_t dict = n < 40 ? uint64_t(128) << n : UINT64_MAX / 2;
        if (algorithm == 1)
            dict += dict / 32 * ((comp >> 15) & 0x1F);
        e.dictKB = dict > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(dict);
    }
    e.unixHost = host == 1;
    e.hostOS = host == 0 ? 2 : 3;
    // '\' is a name character on Unix but no separator; a Windows name
    // cannot hold it at all.
    if (host == 0)
        for (char& c : name)
            if (c == '\\')
                c = '_';
    e.wideName = utf8ToWide(name);
    e.name = wideToUtf8(e.wideName);

    bool timeFromRecord = false;
    if (fileFlags & 0x0002)
        e.mtime = unixToFiletime(mtime);
    ByteReader x(h.body.data() + extraStart, static_cast<size_t>(h.extraSize));
    readExtra(x, e, timeFromRecord);
    // Without a CRC-32 field the reported CRC is the start of the BLAKE2sp
    // digest, as the genuine library reports it.
    if (!e.hasCrc && e.hashType == RAR_HASH_BLAKE2)
        e.crc = uint32_t(e.hash[0]) | uint32_t(e.hash[1]) << 8 | uint32_t(e.hash[2]) << 16 | uint32_t(e.hash[3]) << 24;
    if (e.mtime) {
        int64_t secs;
        long ns;
        filetimeToUnix(e.mtime, secs, ns);
        e.dosTime = unixToDosLocal(secs);
    }
    return ReadStatus::Ok;
}

class Rar5Reader final : public FormatReader {
    // Nothing of a broken main header is trusted, not even its flags.
    static ReadStatus openDamaged(const RawHeader& h, MainInfo& info)
    {
        info = MainInfo{};
        info.version = RarVersion::Rar5;
        info.newNumbering = true;
        info.archiveFlags = ROADF_NEWNUMBERING;
        info.damaged = true;
        info.firstBlock = h.end;
        return ReadStatus::Ok;
    }

    ReadStatus read(const VolumeFile& file, uint64_t offset, RawHeader& h) const
    {
        if (!keys_)
            return readRaw(file, offset, h);
        const crypt::Rar5Key* key = keys_->rar5(headerCrypt_.salt, headerCrypt_.kdfCount);
        return key ? readEncrypted(file, offset, key->key, h) : ReadStatus::Broken;
    }

public:
    RarVersion version() const override { return RarVersion::Rar5; }

    ReadStatus readMain(const VolumeFile& file, uint64_t offset, MainInfo& info) const override
    {
        RawHeader h;
        ReadStatus s = read(file, offset, h);
        // A main header whose extent lies in the file opens the archive,
        // whatever it holds: the damage is reported when the headers are
        // walked, as the genuine library does. Only one the file ends
        // inside, or whose size cannot be read, fails the open. One read
        // with the password's key is whole or refused.
        if (keys_ ? s != ReadStatus::Ok && s != ReadStatus::BadCrc : h.end == 0)
            return ReadStatus::Broken;
        if (s == ReadStatus::Broken)
            return openDamaged(h, info);
        info.damaged = s == ReadStatus::BadCrc;
        info.version = RarVersion::Rar5;
        info.newNumbering = true;
        info.archiveFlags = ROADF_NEWNUMBERING;
        if (h.type == 4 && !keys_) {
            info.encryptedHeaders = true;
            info.archiveFlags = ROADF_ENCHEADERS;
            info.firstBlock = h.end;
            ByteReader r(h.body.data() + fieldsStart(h), h.body.size() - fieldsStart(h));
            readCryptParams(r, info.headerCrypt, false);
            return ReadStatus::Ok;
        }
        if (keys_)
            info.archiveFlags |= ROADF_ENCHEADERS;
        if (h.type != 1)
            return openDamaged(h, info);
        ByteReader r(h.body.data() + fieldsStart(h), h.body.size() - fieldsStart(h));
        uint64_t flags = r.vint();
        uint64_t volumeNumber = (flags & 0x0002) ? r.vint() : 0;
        if (!r.ok())
            return openDamaged(h, info);
        info.volume = flags & 0x0001;
        info.firstVolume = info.volume && volumeNumber == 0;
        if (info.volume)
            info.archiveFlags |= ROADF_VOLUME;
        if (flags & 0x0004)
            info.archiveFlags |= ROADF_SOLID;
        if (flags & 0x0008)
            info.archiveFlags |= ROADF_RECOVERY;
        if (flags & 0x0010)
            info.archiveFlags |= ROADF_LOCK;
        if (info.firstVolume)
            info.archiveFlags |= ROADF_FIRSTVOLUME;
        info.firstBlock = h.end + h.dataSize;
        return ReadStatus::Ok;
    }

    ReadStatus readBlock(const VolumeFile& file, uint64_t offset, Block& block) const override
    {
        RawHeader h;
        ReadStatus s = read(file, offset, h);
        if (s != ReadStatus::Ok)
            return s;
        block = Block{};
        block.next = h.end + h.dataSize;
        switch (h.type) {
        case 2:
        case 3:
            block.type = h.type == 2 ? BlockType::File : BlockType::Service;
            if (parseFile(h, block.entry) != ReadStatus::Ok)
                return ReadStatus::Broken;
            block.entry.dataOffset = h.end;
            break;
        case 5: {
            ByteReader r(h.body.data() + fieldsStart(h), h.body.size() - fieldsStart(h));
            uint64_t endFlags = r.vint();
            block.type = BlockType::End;
            block.endNextVolume = r.ok() && (endFlags & 0x0001);
            break;
        }
        default: block.type = BlockType::Other;
        }
        return ReadStatus::Ok;
    }
};

} // namespace

std::unique_ptr<FormatReader> makeRar5Reader() { return std::make_unique<Rar5Reader>(); }

} // namespace unrar
