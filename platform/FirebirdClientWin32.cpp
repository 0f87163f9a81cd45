#include "FirebirdClient.h"

#include "DynamicLibrary.h"
#include "ExecutablePath.h"
#include "TextCodec.h"

#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include <windows.h>

namespace platform {

namespace {

// Firebird's installer records its folder as the default instance.
std::filesystem::path installedFirebirdFolder()
{
    wchar_t folder[MAX_PATH] = {};
    DWORD size = sizeof folder;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Firebird Project\\Firebird Server\\Instances",
                     L"DefaultInstance", RRF_RT_REG_SZ, nullptr, folder, &size) != ERROR_SUCCESS)
        return {};
    return std::filesystem::path(folder);
}

std::string tryLoad(const std::filesystem::path& file, bool& loaded)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return {};
    // Its own folder first for what it needs in turn (the engine, ICU, the C run time).
    if (LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) != nullptr) {
        loaded = true;
        return {};
    }
    return "; " + toUtf8(file.u16string()) + " could not be loaded (error " + std::to_string(GetLastError()) + ")";
}

std::string load()
{
    constexpr const char* kName = "fbclient.dll";
    bool loaded = false;
    std::string failures = tryLoad(executableFolder() / kName, loaded);
    if (loaded)
        return {};
    const std::filesystem::path installed = installedFirebirdFolder();
    if (!installed.empty()) {
        // Firebird 3 and later keep the client in the instance's folder, 2.5 in bin.
        for (const auto& file : {installed / kName, installed / "bin" / kName}) {
            failures += tryLoad(file, loaded);
            if (loaded)
                return {};
        }
    }
    // The system's search order: a copy in the system folder or on PATH.
    std::string whyNot;
    if (loadLibrary(kName, whyNot) != 0)
        return {};
    return "The Firebird client library fbclient.dll was not found: neither in the program's folder (" +
           toUtf8(executableFolder().u16string()) + ") nor in an installed Firebird (" +
           (installed.empty() ? std::string("none is registered") : toUtf8(installed.u16string())) +
           ") nor on the system's search path" + failures +
           ". Copy fbclient.dll of the Firebird client beside the program or install the Firebird client.";
}

} // namespace

std::string loadFirebirdClient()
{
    static std::once_flag once;
    static std::string whyNot;
    std::call_once(once, [] { whyNot = load(); });
    return whyNot;
}

} // namespace platform
