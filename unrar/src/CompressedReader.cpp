#include "unrar/src/CompressedReader.h"

#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Entry.h"

namespace unrar {

CompressedReader::~CompressedReader()
{
    if (a_) archive_read_free(a_);
}

bool CompressedReader::open(const std::vector<std::string>& volumes)
{
    if (a_) archive_read_free(a_);
    a_ = archive_read_new();
    next_ = 0;
    failed_ = false;
    volumes_ = volumes.size();
    if (!a_) return false;
    archive_read_support_format_rar(a_);
    archive_read_support_format_rar5(a_);
    std::vector<const char*> names;
    for (const std::string& v : volumes) names.push_back(v.c_str());
    names.push_back(nullptr);
    if (archive_read_open_filenames(a_, names.data(), 1 << 20) != ARCHIVE_OK) {
        archive_read_free(a_);
        a_ = nullptr;
        return false;
    }
    return true;
}

int CompressedReader::seek(uint64_t ordinal, const std::string& name)
{
    if (!a_ || ordinal < next_) return ERAR_BAD_DATA;
    struct archive_entry* e = nullptr;
    for (;;) {
        int r = archive_read_next_header(a_, &e);
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN) {
            failed_ = true;
            return ERAR_BAD_DATA;
        }
        if (next_++ == ordinal) break;
    }
    const char* got = archive_entry_pathname_utf8(e);
    if (got && name != got) {
        failed_ = true;
        return ERAR_BAD_DATA;
    }
    offset_ = 0;
    return ERAR_SUCCESS;
}

bool CompressedReader::nextBlock(const void*& data, size_t& size)
{
    la_int64_t offset = 0;
    int r = archive_read_data_block(a_, &data, &size, &offset);
    if (r == ARCHIVE_EOF) return false;
    // A gap would ask for a sparse file of any size; RAR has none.
    if ((r != ARCHIVE_OK && r != ARCHIVE_WARN) || offset < 0 || static_cast<uint64_t>(offset) != offset_) {
        failed_ = true;
        return false;
    }
    offset_ += size;
    return true;
}

namespace {

void putU8(std::string& b, uint8_t v) { b.push_back(static_cast<char>(v)); }
void putU16(std::string& b, uint16_t v) { putU8(b, v & 0xFF); putU8(b, v >> 8); }
void putU32(std::string& b, uint32_t v) { putU16(b, v & 0xFFFF); putU16(b, v >> 16); }
void putVint(std::string& b, uint64_t v)
{
    do {
        uint8_t byte = v & 0x7F;
        v >>= 7;
        putU8(b, byte | (v ? 0x80 : 0));
    } while (v);
}
uint32_t crcOf(const std::string& s)
{
    return static_cast<uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(s.data()), static_cast<uInt>(s.size())));
}

std::string rar4Block(uint8_t type, uint16_t flags, const std::string& rest)
{
    std::string h;
    putU8(h, type);
    putU16(h, flags);
    putU16(h, static_cast<uint16_t>(7 + rest.size()));
    h += rest;
    std::string out;
    putU16(out, crcOf(h) & 0xFFFF);
    return out + h;
}

std::string rar5Block(const std::string& body)
{
    std::string sized;
    putVint(sized, body.size());
    sized += body;
    std::string out;
    putU32(out, crcOf(sized));
    return out + sized;
}

unsigned log2Of(uint32_t v)
{
    unsigned n = 0;
    while (v > 1) {
        v >>= 1;
        ++n;
    }
    return n;
}

}  // namespace

bool unpackServiceData(bool rar5, const Entry& service, const std::string& packed, std::string& out)
{
    if (rar5) return unpackRar5ServiceData(service, packed, out);
    std::string image;
    if (rar5) {
        image = std::string("Rar!\x1A\x07\x01\x00", 8);
        std::string main;
        putVint(main, 1);
        putVint(main, 0);
        putVint(main, 0);
        image += rar5Block(main);
        std::string f;
        putVint(f, 2);
        putVint(f, 0x0002);
        putVint(f, packed.size());
        putVint(f, 0x0004);
        putVint(f, service.unpSize);
        putVint(f, 0x20);
        putU32(f, service.crc);
        uint64_t comp = (service.unpVer == 70 ? 1 : 0) | uint64_t(service.method - 0x30) << 7 |
                        uint64_t(log2Of(std::max<uint32_t>(service.dictKB, 128) / 128)) << 10;
        putVint(f, comp);
        putVint(f, 0);
        putVint(f, 3);
        f += "CMT";
        image += rar5Block(f) + packed;
        std::string end;
        putVint(end, 5);
        putVint(end, 0);
        putVint(end, 0);
        image += rar5Block(end);
    } else {
        image = std::string("Rar!\x1A\x07\x00", 7);
        image += rar4Block(0x73, 0, std::string(6, '\0'));
        std::string h;
        putU32(h, static_cast<uint32_t>(packed.size()));
        putU32(h, static_cast<uint32_t>(service.unpSize));
        putU8(h, 2);
        putU32(h, service.crc);
        putU32(h, 0x00210000);  // 1980-01-01: libarchive wants a valid date
        putU8(h, static_cast<uint8_t>(service.unpVer));
        putU8(h, static_cast<uint8_t>(service.method));
        putU16(h, 3);
        putU32(h, 0x20);
        h += "CMT";
        uint16_t dictBits = static_cast<uint16_t>(std::min(6u, log2Of(std::max<uint32_t>(service.dictKB, 64) / 64)) << 5);
        image += rar4Block(0x74, 0x8000 | dictBits, h) + packed;
        image += rar4Block(0x7B, 0x4000, "");
    }
    struct archive* a = archive_read_new();
    if (!a) return false;
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    bool ok = false;
    struct archive_entry* e = nullptr;
    if (archive_read_open_memory(a, image.data(), image.size()) == ARCHIVE_OK &&
        archive_read_next_header(a, &e) == ARCHIVE_OK) {
        out.clear();
        char buf[16384];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0 && out.size() <= service.unpSize)
            out.append(buf, static_cast<size_t>(n));
        ok = n == 0 && out.size() == service.unpSize;
    }
    archive_read_free(a);
    return ok;
}

}  // namespace unrar
