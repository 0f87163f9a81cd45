#include "RAR_DLL.h"

#include "DateTimeValue.h"
#include "ExecutableKind.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <system_error>

bool isFolderEntry(const RARHeaderDataEx& header)
{
    constexpr unsigned kFolderAttribute = 16;
    return (header.Flags & RHDF_DIRECTORY) != 0 || header.FileAttr == kFolderAttribute;
}

namespace RAR_DLL {

bool DllLoaded = false;

RAROpenArchiveFn RAROpenArchive = nullptr;
RAROpenArchiveExFn RAROpenArchiveEx = nullptr;
RARCloseArchiveFn RARCloseArchive = nullptr;
RARReadHeaderFn RARReadHeader = nullptr;
RARReadHeaderExFn RARReadHeaderEx = nullptr;
RARProcessFileFn RARProcessFile = nullptr;
RARSetCallbackFn RARSetCallback = nullptr;
RARSetChangeVolProcFn RARSetChangeVolProc = nullptr;
RARSetProcessDataProcFn RARSetProcessDataProc = nullptr;
RARSetPasswordFn RARSetPassword = nullptr;
RARGetDllVersionFn RARGetDllVersion = nullptr;

namespace {

template <typename Fn> Fn lookUp(platform::ModuleHandle module, const char* name)
{
    return reinterpret_cast<Fn>(platform::findSymbol(module, name));
}

} // namespace

bool EntryPoints::complete() const
{
    return RAROpenArchive && RAROpenArchiveEx && RARCloseArchive && RARReadHeader && RARReadHeaderEx &&
           RARProcessFile && RARSetCallback && RARSetChangeVolProc && RARSetProcessDataProc && RARSetPassword &&
           RARGetDllVersion;
}

EntryPoints lookUpEntryPoints(platform::ModuleHandle module)
{
    EntryPoints e;
    e.RAROpenArchive = lookUp<RAROpenArchiveFn>(module, "RAROpenArchive");
    e.RAROpenArchiveEx = lookUp<RAROpenArchiveExFn>(module, "RAROpenArchiveEx");
    e.RARCloseArchive = lookUp<RARCloseArchiveFn>(module, "RARCloseArchive");
    e.RARReadHeader = lookUp<RARReadHeaderFn>(module, "RARReadHeader");
    e.RARReadHeaderEx = lookUp<RARReadHeaderExFn>(module, "RARReadHeaderEx");
    e.RARProcessFile = lookUp<RARProcessFileFn>(module, "RARProcessFile");
    e.RARSetCallback = lookUp<RARSetCallbackFn>(module, "RARSetCallback");
    e.RARSetChangeVolProc = lookUp<RARSetChangeVolProcFn>(module, "RARSetChangeVolProc");
    e.RARSetProcessDataProc = lookUp<RARSetProcessDataProcFn>(module, "RARSetProcessDataProc");
    e.RARSetPassword = lookUp<RARSetPasswordFn>(module, "RARSetPassword");
    e.RARGetDllVersion = lookUp<RARGetDllVersionFn>(module, "RARGetDllVersion");
    return e;
}

void publishAsLatest(const EntryPoints& e)
{
    RAROpenArchive = e.RAROpenArchive;
    RAROpenArchiveEx = e.RAROpenArchiveEx;
    RARCloseArchive = e.RARCloseArchive;
    RARReadHeader = e.RARReadHeader;
    RARReadHeaderEx = e.RARReadHeaderEx;
    RARProcessFile = e.RARProcessFile;
    RARSetCallback = e.RARSetCallback;
    RARSetChangeVolProc = e.RARSetChangeVolProc;
    RARSetProcessDataProc = e.RARSetProcessDataProc;
    RARSetPassword = e.RARSetPassword;
    RARGetDllVersion = e.RARGetDllVersion;
}

double GetFileModifyDate(const std::u16string& FileName)
{
    const std::filesystem::path path(FileName);
    // The time is only reported for a file this process may read.
    std::ifstream probe(path, std::ios::binary);
    if (!probe)
        return 0;
    std::error_code ec;
    const auto written = std::filesystem::last_write_time(path, ec);
    if (ec)
        return 0;
    const auto system = std::chrono::file_clock::to_sys(written);
    return localDosTimeToValue(std::chrono::system_clock::to_time_t(system));
}

std::int64_t GetFileSize(const std::u16string& S)
{
    const std::filesystem::path path(S);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(status))
        return 0;
    if (!std::filesystem::is_regular_file(status))
        return 0;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

bool isSFX(const std::u16string& FileName)
{
    switch (executableKind(std::filesystem::path(FileName))) {
    case ExecutableKind::Win32:
    case ExecutableKind::Dos:
    case ExecutableKind::Win16:
    case ExecutableKind::Pif:
    case ExecutableKind::Posix:
    case ExecutableKind::Os2:
    case ExecutableKind::Elf: return true;
    case ExecutableKind::None:
    case ExecutableKind::Win64: return false;
    }
    return false;
}

} // namespace RAR_DLL
