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

#define RAR_DLL_DEFINE(name) name##Fn name = nullptr;
RAR_DLL_ENTRY_POINTS(RAR_DLL_DEFINE)
#undef RAR_DLL_DEFINE

namespace {

template <typename Fn> Fn lookUp(platform::ModuleHandle module, const char* name)
{
    return reinterpret_cast<Fn>(platform::findSymbol(module, name));
}

} // namespace

bool EntryPoints::complete() const
{
    bool all = true;
#define RAR_DLL_FOUND(name) all = all && name != nullptr;
    RAR_DLL_ENTRY_POINTS(RAR_DLL_FOUND)
#undef RAR_DLL_FOUND
    return all;
}

EntryPoints lookUpEntryPoints(platform::ModuleHandle module)
{
    EntryPoints e;
#define RAR_DLL_LOOK_UP(name) e.name = lookUp<name##Fn>(module, #name);
    RAR_DLL_ENTRY_POINTS(RAR_DLL_LOOK_UP)
#undef RAR_DLL_LOOK_UP
    return e;
}

void publishAsLatest(const EntryPoints& e)
{
#define RAR_DLL_PUBLISH(name) name = e.name;
    RAR_DLL_ENTRY_POINTS(RAR_DLL_PUBLISH)
#undef RAR_DLL_PUBLISH
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
