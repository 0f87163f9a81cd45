#include "tests/support/RarWriter.h"

#include "platform/TextCodec.h"
#include "tests/support/BitWriter.h"
#include "tests/support/RarCipher.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

namespace tavrel::test {
namespace {

using Bytes = std::string;

uint32_t crc(const void* data, size_t size, uint32_t seed = 0)
{
    return static_cast<uint32_t>(::crc32(seed, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}
uint32_t crc(const Bytes& b) { return crc(b.data(), b.size()); }

// A header's fields in the order written: little-endian integers, RAR 5.0
// variable-length integers and bytes as they are.
struct Fields {
    Bytes bytes;

    Fields& u8(uint8_t v)
    {
        bytes.push_back(static_cast<char>(v));
        return *this;
    }
    Fields& u16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    Fields& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Fields& vint(uint64_t v)
    {
        do {
            const uint8_t low = v & 0x7F;
            v >>= 7;
            u8(low | (v ? 0x80 : 0));
        } while (v);
        return *this;
    }
    Fields& raw(const Bytes& b)
    {
        bytes += b;
        return *this;
    }
};

// One stretch of an entry's data that lands in one volume.
struct Piece {
    size_t entry;
    uint64_t offset;
    uint64_t length;
    bool first;
    bool last;
};

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

void writeAll(FILE* f, const void* data, size_t size)
{
    if (size && std::fwrite(data, 1, size, f) != size)
        throw std::runtime_error("RarWriter: write failed");
}
void writeAll(FILE* f, const Bytes& b) { writeAll(f, b.data(), b.size()); }

bool isAscii(const std::string& s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// RAR 4.x name field: plain bytes, or a '?' placeholder name, a zero and
// the UTF-16 name written as full code units.
Bytes rar4NameField(const std::string& name)
{
    if (isAscii(name))
        return name;
    std::u16string w = platform::toUtf16(name);
    Fields field;
    field.raw(Bytes(w.size(), '?'));
    field.u8(0).u8(0); // high byte, unused by full-unit ops
    for (size_t i = 0; i < w.size(); i += 4) {
        size_t n = std::min<size_t>(4, w.size() - i);
        uint8_t flags = 0;
        for (size_t k = 0; k < n; ++k)
            flags |= 2 << (6 - 2 * k);
        field.u8(flags);
        for (size_t k = 0; k < n; ++k)
            field.u16(w[i + k]);
    }
    return field.bytes;
}

std::string storedName(const RarEntry& e, RarFormat format)
{
    std::string n = e.name;
    if (format == RarFormat::Rar4 && !e.rawName)
        for (char& c : n)
            if (c == '/')
                c = '\\';
    return n;
}

bool isLink(const RarEntry& e) { return e.kind != RarEntry::Kind::File && e.kind != RarEntry::Kind::Directory; }

uint64_t redirectionType(RarEntry::Kind kind)
{
    switch (kind) {
    case RarEntry::Kind::Symlink: return 1;
    case RarEntry::Kind::WindowsSymlink: return 2;
    case RarEntry::Kind::Junction: return 3;
    case RarEntry::Kind::Hardlink: return 4;
    default: return 5;
    }
}

uint32_t defaultAttributes(const RarEntry& e)
{
    if (e.attributes)
        return e.attributes;
    switch (e.kind) {
    case RarEntry::Kind::Directory: return e.unixHost ? 040755 : 0x10;
    case RarEntry::Kind::Symlink: return 0120777;
    case RarEntry::Kind::WindowsSymlink:
    case RarEntry::Kind::Junction: return 0x420; // archive and reparse point
    default: return e.unixHost ? 0100644 : 0x20;
    }
}

class VolumeSetWriter {
public:
    // `cipher`: encrypts the entries marked so and, with `sealHeaders`, every header.
    VolumeSetWriter(RarFormat format, const std::vector<RarEntry>& entries, bool solid,
                    const RarCipher* cipher = nullptr, bool sealHeaders = false, bool macs = true)
        : format_(format), entries_(entries), solid_(solid), wholeCrc_(entries.size(), 0), cipher_(cipher),
          sealHeaders_(sealHeaders), macs_(macs)
    {}

    Bytes fileHeader(const Piece& p, uint32_t crcValue) const
    {
        return seal(format_ == RarFormat::Rar5 ? rar5FileHeader(p, crcValue) : rar4FileHeader(p, crcValue));
    }

    Bytes seal(const Bytes& header) const { return sealHeaders_ ? cipher_->sealHeader(header) : header; }

    // Header, data, then the header again with the real CRC: the data may
    // come from a generator and is seen only once.
    void writePiece(FILE* f, const Piece& p)
    {
        const RarEntry& e = entries_[p.entry];
        long headerPos = std::ftell(f);
        writeAll(f, fileHeader(p, 0));
        uint32_t partCrc = 0;
        uint64_t done = 0;
        std::vector<char> buffer(1 << 20);
        while (done < p.length) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), p.length - done));
            std::span<char> chunk(buffer.data(), n);
            if (e.generator)
                e.generator(p.offset + done, chunk);
            else
                std::copy_n(e.data.data() + p.offset + done, n, buffer.data());
            partCrc = crc(chunk.data(), n, partCrc);
            wholeCrc_[p.entry] = crc(chunk.data(), n, wholeCrc_[p.entry]);
            writeAll(f, chunk.data(), n);
            done += n;
        }
        uint32_t value = p.last ? (e.packed ? crc(e.unpackedData) : wholeCrc_[p.entry]) : partCrc;
        if (p.last && e.wrongCrc)
            value ^= 0x5A5A5A5A;
        long endPos = std::ftell(f);
        std::fseek(f, headerPos, SEEK_SET);
        writeAll(f, fileHeader(p, value));
        std::fseek(f, endPos, SEEK_SET);
    }

private:
    bool solidFlag(const Piece& p) const
    {
        if (!solid_)
            return false;
        for (size_t i = 0; i < p.entry; ++i)
            if (entries_[i].kind == RarEntry::Kind::File)
                return true;
        return false;
    }

    Bytes rar5FileHeader(const Piece& p, uint32_t crcValue) const
    {
        const RarEntry& e = entries_[p.entry];
        const bool dir = e.kind == RarEntry::Kind::Directory;
        Bytes extra;
        auto record = [&extra](uint64_t type, const Fields& data) {
            const Bytes typed = Fields().vint(type).raw(data.bytes).bytes;
            extra += Fields().vint(typed.size()).raw(typed).bytes;
        };
        if (e.filetime)
            record(3, Fields()
                          .vint(0x02)
                          .u32(static_cast<uint32_t>(e.filetime))
                          .u32(static_cast<uint32_t>(e.filetime >> 32)));
        if (!e.blake2.empty())
            record(2, Fields().vint(0).raw(e.blake2));
        if (e.version)
            record(4, Fields().vint(0).vint(e.version));
        if (!e.ownerName.empty())
            record(6, Fields().vint(0x01).vint(e.ownerName.size()).raw(e.ownerName));
        if (isLink(e))
            record(5, Fields().vint(redirectionType(e.kind)).vint(0).vint(e.linkTarget.size()).raw(e.linkTarget));
        if (e.encrypted && cipher_)
            record(1, Fields().raw(cipher_->rar5FileRecord(macs_)));
        else if (e.encrypted)
            record(1, Fields().vint(0).vint(0).u8(15).raw(Bytes(32, '\x11')));
        if (e.encrypted && cipher_ && macs_ && p.last)
            crcValue = cipher_->macOfCrc(crcValue);
        uint64_t hflags = 0x0002;
        if (!extra.empty())
            hflags |= 0x0001;
        if (!p.first)
            hflags |= 0x0008;
        if (!p.last)
            hflags |= 0x0010;
        const bool crcField = !dir && e.blake2.empty();
        uint64_t fileFlags = 0x0002 | (dir ? 0x0001 : 0) | (crcField ? 0x0004 : 0);
        uint64_t unp = e.claimedUnpackedSize ? e.claimedUnpackedSize : (dir ? 0 : e.size());
        if (e.packed && !e.claimedUnpackedSize)
            unp = e.unpackedData.size();
        // RAR gives a symbolic link the size of its target and no data.
        if (isLink(e) && e.kind != RarEntry::Kind::FileCopy && !e.claimedUnpackedSize)
            unp = e.linkTarget.size();
        uint64_t comp = (solidFlag(p) ? 0x40 : 0) | uint64_t(e.method & 7) << 7 | uint64_t(e.dictExponent & 15) << 10 |
                        (e.algorithm & 0x3F);
        bool unix = e.unixHost;
        std::string name = storedName(e, RarFormat::Rar5);

        Fields body;
        body.vint(2).vint(hflags);
        if (!extra.empty())
            body.vint(extra.size());
        body.vint(p.length).vint(fileFlags).vint(unp).vint(defaultAttributes(e)).u32(e.unixTime);
        if (crcField)
            body.u32(crcValue);
        body.vint(comp).vint(unix ? 1 : 0).vint(name.size()).raw(name).raw(extra);
        return rar5Block(body);
    }

    Bytes rar4FileHeader(const Piece& p, uint32_t crcValue) const
    {
        const RarEntry& e = entries_[p.entry];
        if (isLink(e) && e.kind != RarEntry::Kind::Symlink)
            throw std::runtime_error("RarWriter: RAR 4.x has only Unix symbolic links");
        const bool dir = e.kind == RarEntry::Kind::Directory;
        std::string name = storedName(e, RarFormat::Rar4);
        Bytes nameField = rar4NameField(name);
        uint64_t unp = e.claimedUnpackedSize ? e.claimedUnpackedSize : (dir ? 0 : e.size());
        if (e.packed && !e.claimedUnpackedSize)
            unp = e.unpackedData.size();
        bool large = unp > 0xFFFFFFFFu || p.length > 0xFFFFFFFFu;

        uint16_t flags = 0x8000;
        if (!p.first)
            flags |= 0x0001;
        if (!p.last)
            flags |= 0x0002;
        if (e.encrypted)
            flags |= 0x0004 | 0x0400;
        if (solidFlag(p))
            flags |= 0x0010;
        if (dir)
            flags |= 0x00E0;
        if (large)
            flags |= 0x0100;
        if (nameField.size() != name.size())
            flags |= 0x0200;
        bool unix = e.unixHost || e.kind == RarEntry::Kind::Symlink;

        Fields h;
        h.u32(static_cast<uint32_t>(p.length))
            .u32(static_cast<uint32_t>(unp))
            .u8(unix ? 3 : 2)
            .u32(dir ? 0 : crcValue)
            .u32(e.dosTime)
            .u8(e.unpVer                  ? e.unpVer
                : e.encrypted || e.method ? 29
                                          : 20)
            .u8(static_cast<uint8_t>(0x30 + e.method))
            .u16(static_cast<uint16_t>(nameField.size()))
            .u32(defaultAttributes(e));
        if (large)
            h.u32(static_cast<uint32_t>(p.length >> 32)).u32(static_cast<uint32_t>(unp >> 32));
        h.raw(nameField);
        if (e.encrypted)
            h.raw(cipher_ ? cipher_->rar4Salt() : Bytes(8, '\x22'));
        return rar4Block(0x74, flags, h);
    }

public:
    // A RAR 5.0 header: its CRC, its size, then `body`.
    static Bytes rar5Block(const Fields& body)
    {
        const Bytes sized = Fields().vint(body.bytes.size()).raw(body.bytes).bytes;
        return Fields().u32(crc(sized)).raw(sized).bytes;
    }

    // A RAR 4.x header: its CRC, type, flags and size, then `rest`.
    static Bytes rar4Block(uint8_t type, uint16_t flags, const Fields& rest)
    {
        const Bytes h =
            Fields().u8(type).u16(flags).u16(static_cast<uint16_t>(7 + rest.bytes.size())).raw(rest.bytes).bytes;
        return Fields().u16(crc(h) & 0xFFFF).raw(h).bytes;
    }

private:
    RarFormat format_;
    const std::vector<RarEntry>& entries_;
    bool solid_;
    std::vector<uint32_t> wholeCrc_;
    const RarCipher* cipher_;
    bool sealHeaders_;
    bool macs_;
};

std::vector<std::vector<Piece>> planVolumes(const std::vector<RarEntry>& entries, int count)
{
    uint64_t total = 0;
    for (const RarEntry& e : entries)
        if (e.kind != RarEntry::Kind::Directory)
            total += e.size();
    const uint64_t capacity = std::max<uint64_t>(1, (total + count - 1) / count);
    std::vector<std::vector<Piece>> volumes(count);
    size_t vol = 0;
    uint64_t used = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const RarEntry& e = entries[i];
        uint64_t remaining = e.kind == RarEntry::Kind::Directory ? 0 : e.size();
        uint64_t offset = 0;
        bool first = true;
        if (remaining > 0 && vol + 1 < volumes.size() && used >= capacity) {
            ++vol;
            used = 0;
        }
        for (;;) {
            uint64_t take = remaining;
            if (vol + 1 < volumes.size())
                take = std::min(remaining, capacity - std::min(used, capacity));
            bool last = take == remaining;
            volumes[vol].push_back({i, offset, take, first, last});
            used += take;
            offset += take;
            remaining -= take;
            first = false;
            if (last)
                break;
            ++vol;
            used = 0;
        }
    }
    return volumes;
}

// Blocks with Huffman tables in which every literal has an 8-bit code equal
// to its value and nothing else has a code; the data then follows as it is.
// Valid RAR 5.0 compressed data without any matches. Blocks stay small, as
// RAR's own do, so that one crosses at most one volume boundary.
std::string packBlock(const std::string& data, bool last)
{
    BitWriter bw;
    // Code lengths of the table alphabet: symbol 8 (length 8) gets 1 bit,
    // 17 (repeat the previous length) and 19 (run of zeros) 2 bits each.
    for (int i = 0; i < 20; ++i)
        bw.put(i == 8 ? 1 : (i == 17 || i == 19) ? 2 : 0, 4);
    auto symbol = [&bw](int s) {
        if (s == 8)
            bw.put(0, 1);
        else
            bw.put(s == 17 ? 2 : 3, 2);
    };
    // 430 code lengths: 256 literals of 8 bits, then 174 unused symbols.
    symbol(8);
    symbol(17);
    bw.put(138 - 11, 7);
    symbol(17);
    bw.put(117 - 11, 7);
    symbol(19);
    bw.put(138 - 11, 7);
    symbol(19);
    bw.put(36 - 11, 7);
    for (unsigned char b : data)
        bw.put(b, 8);
    const uint32_t blockSize = static_cast<uint32_t>(bw.out.size());
    const int lastBits = bw.bits % 8 == 0 ? 8 : static_cast<int>(bw.bits % 8);
    const int sizeBytes = blockSize < 0x100 ? 1 : 2;
    // Flags: tables present, last block, size field width, bits in the last byte.
    const uint8_t flags = static_cast<uint8_t>(0x80 | (last ? 0x40 : 0) | (sizeBytes - 1) << 3 | (lastBits - 1));
    const uint8_t check = static_cast<uint8_t>(0x5A ^ flags ^ (blockSize & 0xFF) ^ ((blockSize >> 8) & 0xFF));
    Fields out;
    out.u8(flags).u8(check);
    for (int i = 0; i < sizeBytes; ++i)
        out.u8(static_cast<uint8_t>(blockSize >> (8 * i)));
    return out.raw(bw.out).bytes;
}

std::string packLiterals(const std::string& data)
{
    constexpr size_t kBlock = 4096;
    std::string out;
    size_t offset = 0;
    do {
        size_t n = std::min(kBlock, data.size() - offset);
        out += packBlock(data.substr(offset, n), offset + n == data.size());
        offset += n;
    } while (offset < data.size());
    return out;
}

RarEntry linkEntry(RarEntry::Kind kind, std::string name, std::string target)
{
    RarEntry e;
    e.kind = kind;
    e.name = std::move(name);
    e.linkTarget = std::move(target);
    return e;
}

} // namespace

RarWriter& RarWriter::compressed(std::string name, std::string data)
{
    if (format_ != RarFormat::Rar5)
        throw std::logic_error("RarWriter: compressed entries are RAR 5.0 only");
    RarEntry e;
    e.name = std::move(name);
    e.data = packLiterals(data);
    e.unpackedData = std::move(data);
    e.packed = true;
    e.method = 3;
    return entry(std::move(e));
}

RarWriter& RarWriter::packedRar4(std::string name, std::string packedData, std::string unpacked, unsigned unpVer)
{
    if (format_ != RarFormat::Rar4)
        throw std::logic_error("RarWriter: packedRar4 is for RAR 4.x archives");
    RarEntry e;
    e.name = std::move(name);
    e.data = std::move(packedData);
    e.unpackedData = std::move(unpacked);
    e.packed = true;
    e.method = 3;
    e.unpVer = unpVer;
    return entry(std::move(e));
}

RarWriter& RarWriter::lzCompressed(std::string name, std::string data, std::vector<Rar5Filter> filters,
                                   unsigned dictExponent)
{
    if (format_ != RarFormat::Rar5)
        throw std::logic_error("RarWriter: compressed entries are RAR 5.0 only");
    RarEntry e;
    e.name = std::move(name);
    e.unpackedData = std::move(data);
    e.packed = true;
    e.lz = true;
    e.filters = std::move(filters);
    e.dictExponent = dictExponent;
    e.method = 3;
    return entry(std::move(e));
}

// Entries as written: LZ-packed ones encoded now, since whether the
// archive is solid (one stream through all of them) is known only here.
std::vector<RarEntry> RarWriter::packedEntries() const
{
    std::vector<RarEntry> out = entries_;
    unsigned exponent = 0;
    for (const RarEntry& e : out)
        exponent = std::max(exponent, e.dictExponent);
    Rar5Encoder shared(exponent);
    for (RarEntry& e : out) {
        if (!e.packed)
            continue;
        if (!e.lz) {
            if (solid_)
                shared.passOver(e.unpackedData);
            continue;
        }
        Rar5Encoder own(e.dictExponent);
        Rar5Encoder& encoder = solid_ ? shared : own;
        encoder.omitTablesInMidEntry(e.tablelessMidEntry);
        e.data = encoder.encode(e.unpackedData, e.filters);
    }
    return out;
}

void fillPattern(uint64_t offset, std::span<char> out)
{
    for (size_t i = 0; i < out.size(); ++i) {
        uint64_t x = offset + i;
        out[i] = static_cast<char>((x * 131 + (x >> 12) * 7 + (x >> 20)) & 0xFF);
    }
}

RarEntry& RarWriter::last()
{
    if (entries_.empty())
        throw std::logic_error("RarWriter: no entry to adjust");
    return entries_.back();
}

RarWriter& RarWriter::entry(RarEntry e)
{
    entries_.push_back(std::move(e));
    return *this;
}

RarWriter& RarWriter::file(std::string name, std::string data)
{
    RarEntry e;
    e.name = std::move(name);
    e.data = std::move(data);
    return entry(std::move(e));
}

RarWriter& RarWriter::generated(std::string name, uint64_t size, RarDataGenerator generator)
{
    RarEntry e;
    e.name = std::move(name);
    e.generatedSize = size;
    e.generator = std::move(generator);
    return entry(std::move(e));
}

RarWriter& RarWriter::directory(std::string name)
{
    RarEntry e;
    e.kind = RarEntry::Kind::Directory;
    e.name = std::move(name);
    return entry(std::move(e));
}

RarWriter& RarWriter::symlink(std::string name, std::string target)
{
    RarEntry e = linkEntry(RarEntry::Kind::Symlink, std::move(name), target);
    e.unixHost = true;
    // RAR 4.x keeps a Unix link's target as its data.
    if (format_ == RarFormat::Rar4)
        e.data = std::move(target);
    return entry(std::move(e));
}

RarWriter& RarWriter::hardlink(std::string name, std::string target)
{
    RarEntry e = linkEntry(RarEntry::Kind::Hardlink, std::move(name), std::move(target));
    e.unixHost = true;
    return entry(std::move(e));
}

RarWriter& RarWriter::windowsSymlink(std::string name, std::string target)
{
    return entry(linkEntry(RarEntry::Kind::WindowsSymlink, std::move(name), std::move(target)));
}

RarWriter& RarWriter::junction(std::string name, std::string target)
{
    return entry(linkEntry(RarEntry::Kind::Junction, std::move(name), std::move(target)));
}

RarWriter& RarWriter::fileCopy(std::string name, std::string target)
{
    return entry(linkEntry(RarEntry::Kind::FileCopy, std::move(name), std::move(target)));
}

RarWriter& RarWriter::blake2(std::string digest)
{
    last().blake2 = std::move(digest);
    return *this;
}
RarWriter& RarWriter::fileVersion(uint64_t version)
{
    last().version = version;
    return *this;
}
RarWriter& RarWriter::ownerName(std::string name)
{
    last().ownerName = std::move(name);
    return *this;
}
RarWriter& RarWriter::mtimeFiletime(uint64_t filetime)
{
    last().filetime = filetime;
    return *this;
}
RarWriter& RarWriter::wrongCrc()
{
    last().wrongCrc = true;
    return *this;
}
RarWriter& RarWriter::encrypted()
{
    last().encrypted = true;
    return *this;
}
RarWriter& RarWriter::claimSize(uint64_t s)
{
    last().claimedUnpackedSize = s;
    return *this;
}
RarWriter& RarWriter::packedWith(unsigned method)
{
    last().method = method;
    return *this;
}
RarWriter& RarWriter::unixHost(uint32_t mode)
{
    last().unixHost = true;
    last().attributes = mode;
    return *this;
}

RarWriter& RarWriter::comment(std::string text, bool compressed)
{
    if (compressed && format_ != RarFormat::Rar5)
        throw std::logic_error("RarWriter: compressed comments are RAR 5.0 only");
    comment_ = std::move(text);
    hasComment_ = true;
    commentCompressed_ = compressed;
    return *this;
}
RarWriter& RarWriter::solid(bool on)
{
    solid_ = on;
    return *this;
}
RarWriter& RarWriter::locked(bool on)
{
    locked_ = on;
    return *this;
}
RarWriter& RarWriter::encryptedHeaders(bool on)
{
    encryptedHeaders_ = on;
    return *this;
}
RarWriter& RarWriter::password(std::string password, bool macs, unsigned kdfCount)
{
    password_ = std::move(password);
    macs_ = macs;
    kdfCount_ = kdfCount;
    return *this;
}
RarWriter& RarWriter::sfxStub(std::string bytes)
{
    sfx_ = std::move(bytes);
    return *this;
}
RarWriter& RarWriter::volumes(int count, VolumeNaming naming)
{
    volumeCount_ = std::max(1, count);
    naming_ = naming;
    return *this;
}

std::string RarWriter::volumeName(const std::string& stem, int index, int count, VolumeNaming naming)
{
    if (count <= 1)
        return stem + ".rar";
    if (naming == VolumeNaming::Old) {
        if (index == 0)
            return stem + ".rar";
        // .r00 .. .r99, then .s00: the letter carries.
        int n = index - 1;
        std::string ext = ".";
        ext += static_cast<char>('r' + n / 100);
        ext += static_cast<char>('0' + n / 10 % 10);
        ext += static_cast<char>('0' + n % 10);
        return stem + ext;
    }
    int width = static_cast<int>(std::to_string(count).size());
    char buf[32];
    std::snprintf(buf, sizeof buf, ".part%0*d.rar", width, index + 1);
    return stem + buf;
}

std::vector<std::filesystem::path> RarWriter::write(const std::filesystem::path& folder, const std::string& stem) const
{
    const bool rar5 = format_ == RarFormat::Rar5;
    const bool multi = volumeCount_ > 1;
    std::vector<RarEntry> entries = packedEntries();
    std::unique_ptr<RarCipher> cipher;
    if (!password_.empty()) {
        cipher = std::make_unique<RarCipher>(format_, password_, kdfCount_);
        for (RarEntry& e : entries) {
            if (!e.encrypted || e.kind == RarEntry::Kind::Directory)
                continue;
            // The CRC and size then come from the plain bytes kept beside.
            if (!e.packed) {
                e.unpackedData = e.data;
                if (e.generator) {
                    e.unpackedData.resize(e.generatedSize);
                    e.generator(0, std::span<char>(e.unpackedData.data(), e.unpackedData.size()));
                    e.generator = nullptr;
                }
                e.packed = true;
            }
            e.data = cipher->encryptData(e.packed && e.method == 0 ? e.unpackedData : e.data);
        }
    }
    const bool sealed = cipher && encryptedHeaders_;
    VolumeSetWriter writer(format_, entries, solid_, cipher.get(), sealed, macs_);
    std::vector<std::filesystem::path> paths;
    auto plan = planVolumes(entries, volumeCount_);
    for (int v = 0; v < volumeCount_; ++v) {
        std::filesystem::path path = folder / volumeName(stem, v, volumeCount_, naming_);
#ifdef _WIN32
        FilePtr f(_wfopen(path.c_str(), L"wb"));
#else
        FilePtr f(std::fopen(path.c_str(), "wb"));
#endif
        if (!f)
            throw std::runtime_error("RarWriter: cannot create " + path.string());
        if (v == 0)
            writeAll(f.get(), sfx_);
        const bool lastVolume = v + 1 == volumeCount_;
        if (rar5) {
            writeAll(f.get(), Bytes("Rar!\x1A\x07\x01\x00", 8));
            if (sealed)
                writeAll(f.get(),
                         VolumeSetWriter::rar5Block(Fields().vint(4).vint(0).raw(cipher->rar5ArchiveRecord())));
            if (encryptedHeaders_ && !sealed) {
                writeAll(f.get(), VolumeSetWriter::rar5Block(
                                      Fields().vint(4).vint(0).vint(0).vint(0).u8(15).raw(Bytes(16, '\x33'))));
                writeAll(f.get(), Bytes(96, '\x5C'));
                paths.push_back(path);
                continue;
            }
            uint64_t arcFlags =
                (multi ? 0x0001 : 0) | (v > 0 ? 0x0002 : 0) | (solid_ ? 0x0004 : 0) | (locked_ ? 0x0010 : 0);
            Fields main;
            main.vint(1).vint(0).vint(arcFlags);
            if (v > 0)
                main.vint(v);
            writeAll(f.get(), writer.seal(VolumeSetWriter::rar5Block(main)));
            if (v == 0 && hasComment_) {
                const Bytes body = commentCompressed_ ? packLiterals(comment_) : comment_;
                const Fields cmt = Fields()
                                       .vint(3)
                                       .vint(0x0002)
                                       .vint(body.size())
                                       .vint(0x0004)
                                       .vint(comment_.size())
                                       .vint(0)
                                       .u32(crc(comment_))
                                       .vint(commentCompressed_ ? 3 << 7 : 0)
                                       .vint(0)
                                       .vint(3)
                                       .raw("CMT");
                writeAll(f.get(), writer.seal(VolumeSetWriter::rar5Block(cmt)) + body);
            }
        } else {
            writeAll(f.get(), Bytes("Rar!\x1A\x07\x00", 7));
            uint16_t flags = 0;
            if (multi)
                flags |= 0x0001 | (naming_ == VolumeNaming::New ? 0x0010 : 0) | (v == 0 ? 0x0100 : 0);
            if (solid_)
                flags |= 0x0008;
            if (locked_)
                flags |= 0x0004;
            if (encryptedHeaders_)
                flags |= 0x0080;
            writeAll(f.get(), VolumeSetWriter::rar4Block(0x73, flags, Fields().raw(Bytes(6, '\0'))));
            if (encryptedHeaders_ && !sealed) {
                writeAll(f.get(), Bytes(96, '\x5C'));
                paths.push_back(path);
                continue;
            }
            if (v == 0 && hasComment_) {
                const Fields h = Fields()
                                     .u32(static_cast<uint32_t>(comment_.size()))
                                     .u32(static_cast<uint32_t>(comment_.size()))
                                     .u8(2)
                                     .u32(crc(comment_))
                                     .u32(0)
                                     .u8(20)
                                     .u8(0x30)
                                     .u16(3)
                                     .u32(0)
                                     .raw("CMT");
                writeAll(f.get(), writer.seal(VolumeSetWriter::rar4Block(0x7A, 0x8000, h)) + comment_);
            }
        }
        for (const Piece& p : plan[v])
            writer.writePiece(f.get(), p);
        if (rar5) {
            writeAll(f.get(),
                     writer.seal(VolumeSetWriter::rar5Block(Fields().vint(5).vint(0x0004).vint(lastVolume ? 0 : 1))));
        } else {
            writeAll(f.get(), writer.seal(VolumeSetWriter::rar4Block(0x7B, lastVolume ? 0x4000 : 0x4001, Fields())));
        }
        if (std::fflush(f.get()) != 0)
            throw std::runtime_error("RarWriter: write failed");
        paths.push_back(path);
    }
    return paths;
}

} // namespace tavrel::test
