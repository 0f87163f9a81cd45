// A stand-in for the UnRAR library that plays back a script, so that every
// answer the component can get is produced for real through dlopen. Built in
// variants that lack an export or report another interface version.
#include "tests/rar_component/scripted/ScriptedUnrar.h"

#include "unrar/include/unrar_api.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#ifndef SCRIPTED_VERSION
#define SCRIPTED_VERSION 9
#endif

#define SCRIPTED_EXPORT extern "C"

namespace {

struct State {
    scripted::Script script;
    scripted::Log log;
    unsigned mode = 0;
    std::size_t next = 0; // index of the next header to read
    const scripted::Entry* current = nullptr;
    UNRARCALLBACK callback = nullptr;
    RAR_LPARAM userData = 0;
};

State& state()
{
    static State s;
    return s;
}

std::string text(const char* p) { return p ? std::string(p) : std::string("-"); }

constexpr std::size_t kGuard = 8;

// The component must not let an exception through: noexcept turns one into
// a crash of the test instead of undefined unwinding through C frames.
int callBack(unsigned msg, RAR_LPARAM p1, RAR_LPARAM p2) noexcept
{
    State& s = state();
    if (!s.callback)
        return 0;
    return s.callback(msg, s.userData, p1, p2);
}

// Sends one request; returns the library call's result when the component cancels, else 0.
int send(const scripted::Request& r)
{
    State& s = state();
    std::size_t size = 0;
    if (r.msg == UCM_CHANGEVOLUME)
        size = 1024;
    else if (r.msg == UCM_NEEDPASSWORD)
        size = static_cast<std::size_t>(r.p2);
    else
        size = r.p2 > 0 ? static_cast<std::size_t>(r.p2) : 0;
    std::string buffer(size + kGuard, '#');
    std::memcpy(buffer.data(), r.text.c_str(), std::min(r.text.size() + 1, size));
    const int answer = callBack(r.msg, reinterpret_cast<RAR_LPARAM>(buffer.data()), r.p2);
    std::string line = "cb " + std::to_string(r.msg) + " " + std::to_string(answer);
    if (r.msg != UCM_PROCESSDATA)
        line += " " + std::string(buffer.c_str(), strnlen(buffer.c_str(), size));
    if (buffer.compare(size, kGuard, std::string(kGuard, '#')) != 0)
        line += " OVERRUN";
    s.log.push_back(line);
    return answer == -1 ? r.failureCode : 0;
}

int sendAll(const scripted::Entry& e, scripted::Request::When when)
{
    for (const auto& r : e.requests) {
        if (r.when != when)
            continue;
        if (const int failed = send(r); failed != 0)
            return failed;
    }
    return 0;
}

void toWide(const std::string& name, wchar_t* out, std::size_t capacity)
{
    std::size_t i = 0;
    for (; i + 1 < capacity && i < name.size(); ++i)
        out[i] = static_cast<unsigned char>(name[i]);
    out[i] = 0;
}

void writeEntry(const scripted::Entry& e, const char* folder, const char* name)
{
    namespace fs = std::filesystem;
    const fs::path target = !e.writtenTo.empty() ? fs::path(e.writtenTo)
                            : name               ? fs::path(name)
                                                 : fs::path(folder ? folder : ".") / e.name;
    std::error_code ec;
    if (e.flags & RHDF_DIRECTORY) {
        fs::create_directories(target, ec);
        return;
    }
    if (!name)
        fs::create_directories(target.parent_path(), ec);
    std::ofstream(target, std::ios::binary | std::ios::trunc) << e.content;
}

} // namespace

SCRIPTED_EXPORT void ScriptedUnrarLoad(const scripted::Script* script)
{
    State& s = state();
    s = State{};
    s.script = *script;
}

SCRIPTED_EXPORT const scripted::Log* ScriptedUnrarLog() { return &state().log; }

RAR_HANDLE RAR_API RAROpenArchive(RAROpenArchiveData*) { return nullptr; }

RAR_HANDLE RAR_API RAROpenArchiveEx(RAROpenArchiveDataEx* data)
{
    State& s = state();
    s.log.push_back("open " + std::to_string(data->OpenMode));
    s.mode = data->OpenMode;
    s.next = 0;
    s.current = nullptr;
    s.callback = nullptr;
    if (s.script.openFails) {
        data->OpenResult = ERAR_EOPEN;
        return nullptr;
    }
    data->Flags = s.script.archiveFlags;
    data->CmtState = s.script.cmtState;
    if (s.script.cmtState == 1 && data->CmtBuf && data->CmtBufSize > 0) {
        const std::size_t n = std::min<std::size_t>(s.script.comment.size(), data->CmtBufSize - 1);
        std::memcpy(data->CmtBuf, s.script.comment.data(), n);
        data->CmtBuf[n] = 0;
        data->CmtSize = static_cast<unsigned>(n + 1);
    }
    return &s;
}

int RAR_API RARCloseArchive(RAR_HANDLE)
{
    State& s = state();
    s.log.push_back("close " + std::to_string(s.script.closeResult));
    return s.script.closeResult;
}

int RAR_API RARReadHeader(RAR_HANDLE, RARHeaderData*) { return ERAR_UNKNOWN; }

int RAR_API RARReadHeaderEx(RAR_HANDLE, RARHeaderDataEx* h)
{
    State& s = state();
    if (s.next >= s.script.entries.size()) {
        s.log.push_back("read 10");
        return ERAR_END_ARCHIVE;
    }
    const scripted::Entry& e = s.script.entries[s.next++];
    s.current = &e;
    std::memset(h, 0, sizeof *h);
    std::strncpy(h->FileName, e.name.c_str(), sizeof h->FileName - 1);
    wchar_t wide[1024];
    toWide(e.name, wide, 1024);
    std::memcpy(h->FileNameW, wide, sizeof wide);
    h->Flags = e.flags;
    h->PackSize = e.packSize;
    h->UnpSize = e.unpSize;
    h->UnpSizeHigh = e.unpSizeHigh;
    h->HostOS = e.hostOS;
    h->FileCRC = e.crc;
    h->FileTime = e.fileTime;
    h->UnpVer = e.unpVer;
    h->Method = e.method;
    h->FileAttr = e.attr;
    h->CmtSize = e.cmtSize;
    h->DictSize = e.dictSizeKb;
    int result = sendAll(e, scripted::Request::When::Read);
    if (result == 0)
        result = e.readResult;
    s.log.push_back("read " + std::to_string(result));
    return result;
}

int RAR_API RARProcessFile(RAR_HANDLE, int operation, char* folder, char* name)
{
    State& s = state();
    int result = 0;
    if (s.current) {
        const scripted::Entry& e = *s.current;
        const bool unpacking = s.mode == RAR_OM_EXTRACT && operation != RAR_SKIP;
        if (unpacking)
            result = sendAll(e, scripted::Request::When::Process);
        if (result == 0 && unpacking)
            result = e.processResult;
        if (result == 0 && s.mode == RAR_OM_EXTRACT && operation == RAR_EXTRACT)
            writeEntry(e, folder, name);
    }
    s.log.push_back("process " + std::to_string(operation) + " " + text(folder) + " " + text(name) + " " +
                    std::to_string(result));
    return result;
}

#ifndef SCRIPTED_WITHOUT_SET_CALLBACK
void RAR_API RARSetCallback(RAR_HANDLE, UNRARCALLBACK callback, RAR_LPARAM userData)
{
    State& s = state();
    s.log.push_back("callback");
    s.callback = callback;
    s.userData = userData;
}
#endif

void RAR_API RARSetChangeVolProc(RAR_HANDLE, CHANGEVOLPROC) {}
void RAR_API RARSetProcessDataProc(RAR_HANDLE, PROCESSDATAPROC) {}
void RAR_API RARSetPassword(RAR_HANDLE, char*) {}

#ifndef SCRIPTED_WITHOUT_GET_VERSION
int RAR_API RARGetDllVersion() { return SCRIPTED_VERSION; }
#endif
