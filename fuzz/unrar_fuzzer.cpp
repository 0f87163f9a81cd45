// libFuzzer target for the archive reader: every input that starts as a
// RAR archive is opened, listed, tested and extracted through the C
// interface, as the archive component would do it. Any other input goes
// straight into a decoder as a packed stream (the RAR 2.9 one when it
// starts with 0x29, else the RAR 5.0 one), so that mutations reach their
// tables, matches and filters without passing a header first.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "unrar/include/unrar_api.h"
#include "unrar/src/decode/Rar5Decoder.h"
#include "unrar/src/decode/rar29/Decoder.h"

namespace {

// A crafted header may declare gigabytes that a few packed bytes expand
// to; the application cancels past this much data per entry.
constexpr uint64_t kDataLimit = 8 << 20;
uint64_t entryData = 0;

int RAR_CALLBACK answer(unsigned msg, RAR_LPARAM, RAR_LPARAM p1, RAR_LPARAM p2)
{
    // A missing volume is never supplied. The password is the one of the
    // encrypted seeds, so that mutations reach decrypted headers and data.
    if ((msg == UCM_CHANGEVOLUME || msg == UCM_CHANGEVOLUMEW) && p2 == RAR_VOL_ASK)
        return -1;
    if (msg == UCM_NEEDPASSWORD && p2 > 8)
        std::strcpy(reinterpret_cast<char*>(p1), "password");
    if (msg == UCM_PROCESSDATA && (entryData += static_cast<uint64_t>(p2)) > kDataLimit)
        return -1;
    return 1;
}

void walk(const std::string& path, unsigned mode, int operation, const std::string& dest)
{
    char comment[64];
    RAROpenArchiveDataEx open{};
    open.ArcName = const_cast<char*>(path.c_str());
    open.OpenMode = mode;
    open.CmtBuf = comment;
    open.CmtBufSize = sizeof comment;
    open.Callback = answer;
    RAR_HANDLE h = RAROpenArchiveEx(&open);
    if (!h)
        return;
    RARHeaderDataEx header;
    for (int i = 0; i < 256; ++i) {
        std::memset(&header, 0, sizeof header);
        if (RARReadHeaderEx(h, &header) != 0)
            break;
        entryData = 0;
        RARProcessFile(h, operation, const_cast<char*>(dest.c_str()), nullptr);
    }
    RARCloseArchive(h);
}

// Byte 0: dictionary exponent (low 2 bits), decode a second time as a
// solid continuation (bit 2); bytes 1-3: unpacked size; then the stream.
void decodeRaw(const uint8_t* data, size_t size)
{
    if (size < 4)
        return;
    static unrar::decode::OutputPipeline out(1 << 16, 3);
    static unrar::decode::Rar5Decoder decoder; // kept: its buffers are reused, its state reset by pass 0
    unrar::decode::Rar5Entry entry;
    entry.dictionarySize = uint64_t(128 << 10) << (data[0] & 3);
    entry.unpackedSize = data[1] | data[2] << 8 | data[3] << 16;
    const int passes = data[0] & 4 ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        unrar::decode::MemorySource in(data + 4, size - 4);
        out.begin(nullptr, nullptr, pass == 1);
        entry.solid = pass == 1;
        if (decoder.decode(entry, in, out) != 0) {
            out.abandon();
            return;
        }
        out.finish();
    }
}

// Byte 0: 0x29; byte 1: bit 0 decode a second file as a solid continuation,
// bit 1 decode to the end marker; bytes 2-4: unpacked size; then the stream.
void decodeRaw29(const uint8_t* data, size_t size)
{
    if (size < 5)
        return;
    static unrar::rar29::Decoder decoder; // kept: its buffers are reused, its state reset by pass 0
    static unrar::decode::OutputPipeline pipeline(size_t(1) << 16, 2);
    unrar::rar29::FileRequest request;
    request.untilEndMarker = data[1] & 2;
    request.size = data[2] | data[3] << 8 | data[4] << 16;
    const int passes = data[1] & 1 ? 2 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        unrar::decode::MemorySource source(data + 5, size - 5);
        request.continues = pass == 1;
        pipeline.begin(nullptr, nullptr, false);
        if (decoder.decodeFile(request, source, pipeline) != unrar::rar29::DecodeStatus::Ok) {
            pipeline.abandon();
            return;
        }
        pipeline.finish();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0 && data[0] == 0x29) {
        decodeRaw29(data, size);
        return 0;
    }
    if (size < 4 || std::memcmp(data, "Rar!", 4) != 0) {
        decodeRaw(data, size);
        return 0;
    }
    static const std::string base = "/dev/shm/unrar-fuzz-" + std::to_string(::getpid());
    static const std::string path = base + ".rar";
    static const std::string dest = base + "-out";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    walk(path, RAR_OM_LIST_INCSPLIT, RAR_SKIP, dest);
    walk(path, RAR_OM_EXTRACT, RAR_TEST, dest);
    walk(path, RAR_OM_EXTRACT, RAR_EXTRACT, dest);
    std::error_code ec;
    std::filesystem::remove_all(dest, ec);
    return 0;
}
