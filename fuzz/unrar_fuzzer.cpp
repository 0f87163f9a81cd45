// libFuzzer target for the archive reader: every input is opened, listed,
// tested and extracted through the C interface, as the archive component
// would do it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "unrar/include/unrar_api.h"

namespace {

int RAR_CALLBACK answer(unsigned msg, RAR_LPARAM, RAR_LPARAM p1, RAR_LPARAM p2)
{
    // A missing volume is never supplied; a password is offered once.
    if ((msg == UCM_CHANGEVOLUME || msg == UCM_CHANGEVOLUMEW) && p2 == RAR_VOL_ASK) return -1;
    if (msg == UCM_NEEDPASSWORD && p2 > 4) std::strcpy(reinterpret_cast<char*>(p1), "pw");
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
    if (!h) return;
    RARHeaderDataEx header;
    for (int i = 0; i < 256; ++i) {
        std::memset(&header, 0, sizeof header);
        if (RARReadHeaderEx(h, &header) != 0) break;
        RARProcessFile(h, operation, const_cast<char*>(dest.c_str()), nullptr);
    }
    RARCloseArchive(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string base = "/dev/shm/unrar-fuzz-" + std::to_string(::getpid());
    static const std::string path = base + ".rar";
    static const std::string dest = base + "-out";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    walk(path, RAR_OM_LIST_INCSPLIT, RAR_SKIP, dest);
    walk(path, RAR_OM_EXTRACT, RAR_TEST, dest);
    walk(path, RAR_OM_EXTRACT, RAR_EXTRACT, dest);
    std::error_code ec;
    std::filesystem::remove_all(dest, ec);
    return 0;
}
