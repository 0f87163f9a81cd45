// The exported C functions. Nothing may escape them: every call is wrapped,
// and a failure inside becomes an ERAR_* code.
#include <algorithm>
#include <cstring>
#include <new>

#include "unrar/include/unrar_api.h"
#include "unrar/src/Archive.h"
#include "unrar/src/TextConvert.h"
#include "unrar/src/crypt/Wipe.h"

#ifdef _WIN32
// Exported by unrar.def, under the undecorated names.
#define RAR_EXPORT extern "C"
#include "unrar/src/WidePath.h"
#else
#define RAR_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using unrar::Archive;

namespace {

// The narrow paths of the interface as the library's own UTF-8: on Windows
// they are text of the ANSI code page, and RARProcessFile's destination text
// of the OEM one, as the interface's manual has it.
enum class CodePage { Ansi, Oem };

std::string pathText(const char* path, CodePage codePage = CodePage::Ansi)
{
#ifdef _WIN32
    return codePage == CodePage::Oem ? unrar::oemToUtf8(path) : unrar::ansiToUtf8(path);
#else
    (void)codePage;
    return path;
#endif
}

template <size_t N> void copyNarrow(char (&dst)[N], const std::string& src)
{
    size_t n = std::min(src.size(), N - 1);
    std::memcpy(dst, src.data(), n);
    dst[n] = '\0';
}

void copyWide(wchar_t* dst, size_t size, const std::wstring& src)
{
    if (!dst || size == 0)
        return;
    size_t n = std::min(src.size(), size - 1);
    std::wmemcpy(dst, src.data(), n);
    dst[n] = L'\0';
}

unsigned low(uint64_t v) { return static_cast<unsigned>(v & 0xFFFFFFFFu); }
unsigned high(uint64_t v) { return static_cast<unsigned>(v >> 32); }

unsigned entryFlags(const unrar::Entry& e)
{
    return (e.splitBefore ? RHDF_SPLITBEFORE : 0) | (e.splitAfter ? RHDF_SPLITAFTER : 0) |
           (e.encrypted ? RHDF_ENCRYPTED : 0) | (e.solid ? RHDF_SOLID : 0) | (e.directory ? RHDF_DIRECTORY : 0);
}

void fillHeader(const Archive& a, RARHeaderDataEx& h)
{
    const unrar::Entry& e = a.current();
    copyNarrow(h.ArcName, a.volumeName());
    std::wstring arcW = unrar::utf8ToWide(a.volumeName());
    copyWide(h.ArcNameW, 1024, arcW);
    copyNarrow(h.FileName, e.name);
    copyWide(h.FileNameW, 1024, e.wideName);
    h.Flags = entryFlags(e);
    h.PackSize = low(e.packSize);
    h.PackSizeHigh = high(e.packSize);
    h.UnpSize = low(e.unpSize);
    h.UnpSizeHigh = high(e.unpSize);
    h.HostOS = e.hostOS;
    h.FileCRC = e.crc;
    h.FileTime = e.dosTime;
    h.UnpVer = e.unpVer;
    h.Method = e.method;
    h.FileAttr = e.attributes;
    h.CmtSize = 0;
    h.CmtState = 0;
    h.DictSize = e.dictKB;
    h.HashType = e.hashType;
    std::memset(h.Hash, 0, sizeof h.Hash);
    if (e.hashType == RAR_HASH_BLAKE2)
        std::memcpy(h.Hash, e.hash, sizeof h.Hash);
    h.RedirType = e.redirType;
    if (h.RedirName && h.RedirNameSize > 0)
        copyWide(h.RedirName, h.RedirNameSize, e.redirTarget);
    h.DirTarget = e.dirTarget ? 1 : 0;
    h.MtimeLow = low(e.mtime);
    h.MtimeHigh = high(e.mtime);
    h.CtimeLow = low(e.ctime);
    h.CtimeHigh = high(e.ctime);
    h.AtimeLow = low(e.atime);
    h.AtimeHigh = high(e.atime);
    if (h.ArcNameEx && h.ArcNameExSize > 0)
        copyWide(h.ArcNameEx, h.ArcNameExSize, arcW);
    if (h.FileNameEx && h.FileNameExSize > 0)
        copyWide(h.FileNameEx, h.FileNameExSize, e.wideName);
}

// CmtSize counts the terminating zero; a cut text is still terminated.
template <typename Char>
void fillComment(const std::basic_string<Char>& text, Char* buf, unsigned size, unsigned& cmtSize, unsigned& state)
{
    size_t n = std::min<size_t>(text.size(), size - 1);
    std::copy_n(text.data(), n, buf);
    buf[n] = Char(0);
    cmtSize = static_cast<unsigned>(n + 1);
    state = n < text.size() ? ERAR_SMALL_BUF : 1;
}

} // namespace

RAR_EXPORT RAR_HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx* d)
{
    if (!d)
        return nullptr;
    try {
        unrar::OpenRequest request;
        if (d->ArcNameW && *d->ArcNameW)
            request.path = unrar::wideToUtf8(d->ArcNameW);
        else if (d->ArcName)
            request.path = pathText(d->ArcName);
        request.mode = d->OpenMode;
        request.callbacks.callback = d->Callback;
        request.callbacks.userData = d->UserData;
        request.keepBroken = (d->OpFlags & ROADOF_KEEPBROKEN) != 0;
        d->CmtSize = 0;
        d->CmtState = 0;
        d->Flags = 0;
        int result = ERAR_SUCCESS;
        std::unique_ptr<Archive> a = Archive::open(request, result);
        d->OpenResult = static_cast<unsigned>(result);
        if (!a)
            return nullptr;
        d->Flags = a->archiveFlags();
        const unrar::CommentText& c = a->comment();
        // A caller that reads the buffer whatever the state finds it empty.
        if (d->CmtBufSize > 0 && d->CmtBufW)
            d->CmtBufW[0] = L'\0';
        else if (d->CmtBufSize > 0 && d->CmtBuf)
            d->CmtBuf[0] = '\0';
        if (c.present && d->CmtBufSize > 0 && (d->CmtBuf || d->CmtBufW)) {
            if (!c.readable) {
                d->CmtState = ERAR_BAD_DATA;
            } else if (d->CmtBufW) {
                fillComment(c.text, d->CmtBufW, d->CmtBufSize, d->CmtSize, d->CmtState);
            } else {
                fillComment(unrar::wideToUtf8(c.text), d->CmtBuf, d->CmtBufSize, d->CmtSize, d->CmtState);
            }
        }
        return a.release();
    } catch (const std::bad_alloc&) {
        d->OpenResult = ERAR_NO_MEMORY;
    } catch (...) {
        d->OpenResult = ERAR_UNKNOWN;
    }
    return nullptr;
}

RAR_EXPORT RAR_HANDLE RAROpenArchive(struct RAROpenArchiveData* d)
{
    if (!d)
        return nullptr;
    RAROpenArchiveDataEx ex{};
    ex.ArcName = d->ArcName;
    ex.OpenMode = d->OpenMode;
    ex.CmtBuf = d->CmtBuf;
    ex.CmtBufSize = d->CmtBufSize;
    RAR_HANDLE h = RAROpenArchiveEx(&ex);
    d->OpenResult = ex.OpenResult;
    d->CmtSize = ex.CmtSize;
    d->CmtState = ex.CmtState;
    return h;
}

RAR_EXPORT int RARCloseArchive(RAR_HANDLE h)
{
    delete static_cast<Archive*>(h);
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeaderEx(RAR_HANDLE h, struct RARHeaderDataEx* d)
{
    if (!h || !d)
        return ERAR_UNKNOWN;
    try {
        Archive* a = static_cast<Archive*>(h);
        int r = a->readHeader();
        if (r == ERAR_SUCCESS)
            fillHeader(*a, *d);
        return r;
    } catch (const std::bad_alloc&) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

RAR_EXPORT int RARReadHeader(RAR_HANDLE h, struct RARHeaderData* d)
{
    if (!h || !d)
        return ERAR_UNKNOWN;
    try {
        auto ex = std::make_unique<RARHeaderDataEx>();
        std::memset(ex.get(), 0, sizeof *ex);
        int r = RARReadHeaderEx(h, ex.get());
        if (r != ERAR_SUCCESS)
            return r;
        std::memcpy(d->ArcName, ex->ArcName, sizeof d->ArcName - 1);
        d->ArcName[sizeof d->ArcName - 1] = '\0';
        std::memcpy(d->FileName, ex->FileName, sizeof d->FileName - 1);
        d->FileName[sizeof d->FileName - 1] = '\0';
        d->Flags = ex->Flags;
        d->PackSize = ex->PackSize;
        d->UnpSize = ex->UnpSize;
        d->HostOS = ex->HostOS;
        d->FileCRC = ex->FileCRC;
        d->FileTime = ex->FileTime;
        d->UnpVer = ex->UnpVer;
        d->Method = ex->Method;
        d->FileAttr = ex->FileAttr;
        d->CmtSize = 0;
        d->CmtState = 0;
        return r;
    } catch (...) {
        return ERAR_NO_MEMORY;
    }
}

RAR_EXPORT int RARProcessFile(RAR_HANDLE h, int operation, char* destPath, char* destName)
{
    if (!h)
        return ERAR_UNKNOWN;
    try {
        const std::string path = destPath ? pathText(destPath, CodePage::Oem) : std::string();
        const std::string name = destName ? pathText(destName, CodePage::Oem) : std::string();
        return static_cast<Archive*>(h)->process(operation, destPath ? path.c_str() : nullptr,
                                                 destName ? name.c_str() : nullptr);
    } catch (const std::bad_alloc&) {
        return ERAR_NO_MEMORY;
    } catch (...) {
        return ERAR_UNKNOWN;
    }
}

RAR_EXPORT void RARSetCallback(RAR_HANDLE h, UNRARCALLBACK callback, RAR_LPARAM userData)
{
    if (!h)
        return;
    auto& c = static_cast<Archive*>(h)->callbacks();
    c.callback = callback;
    c.userData = userData;
}

RAR_EXPORT void RARSetChangeVolProc(RAR_HANDLE h, CHANGEVOLPROC proc)
{
    if (h)
        static_cast<Archive*>(h)->callbacks().changeVolProc = proc;
}

RAR_EXPORT void RARSetProcessDataProc(RAR_HANDLE h, PROCESSDATAPROC proc)
{
    if (h)
        static_cast<Archive*>(h)->callbacks().processDataProc = proc;
}

RAR_EXPORT void RARSetPassword(RAR_HANDLE h, char* password)
{
    if (!h)
        return;
    try {
        std::string copy = password ? password : "";
        static_cast<Archive*>(h)->setPassword(copy);
        unrar::crypt::wipe(copy.data(), copy.size()); // the handle keeps its own, wiped when closed
    } catch (...) {
    }
}

RAR_EXPORT int RARGetDllVersion(void) { return RAR_DLL_VERSION_CURRENT; }
