#include "DynamicLibrary.h"

#include "ExecutablePath.h"
#include "TextCodec.h"

#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace platform {

#ifdef _WIN32

// A bare name is taken from the executable's folder when the file is there,
// by its full path, so that no folder of the search order (the current one
// included) can slip in a library of the same name.
ModuleHandle loadLibrary(const std::string& fileName, std::string& whyNot)
{
    if (fileName.empty()) {
        whyNot = "no file name";
        return 0;
    }
    const std::filesystem::path name(ansiToWide(fileName));
    HMODULE module = nullptr;
    std::error_code ec;
    const std::filesystem::path local = executableFolder() / name;
    if (!name.has_parent_path() && std::filesystem::is_regular_file(local, ec))
        module = LoadLibraryExW(local.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    else
        module = LoadLibraryW(name.c_str());
    if (module == nullptr)
        whyNot = "error " + std::to_string(GetLastError());
    return reinterpret_cast<ModuleHandle>(module);
}

void* findSymbol(ModuleHandle module, const char* name)
{
    if (module == 0)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(module), name));
}

void releaseLibrary(ModuleHandle module)
{
    if (module != 0)
        FreeLibrary(reinterpret_cast<HMODULE>(module));
}

#else

namespace {
// dlopen never looks beside the executable for a bare name; the program
// expects its own copy there to win over one installed elsewhere.
std::string besideExecutable(const std::string& fileName)
{
    if (fileName.find('/') != std::string::npos)
        return {};
    std::error_code ec;
    const auto candidate = executableFolder() / fileName;
    if (std::filesystem::is_regular_file(candidate, ec))
        return candidate.string();
    return {};
}
} // namespace

ModuleHandle loadLibrary(const std::string& fileName, std::string& whyNot)
{
    if (fileName.empty()) {
        whyNot = "no file name";
        return 0;
    }
    const std::string local = besideExecutable(fileName);
    void* handle = dlopen(local.empty() ? fileName.c_str() : local.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* error = dlerror();
        whyNot = error ? error : "unknown error";
    }
    return reinterpret_cast<ModuleHandle>(handle);
}

void* findSymbol(ModuleHandle module, const char* name)
{
    if (module == 0)
        return nullptr;
    return dlsym(reinterpret_cast<void*>(module), name);
}

void releaseLibrary(ModuleHandle module)
{
    if (module != 0)
        dlclose(reinterpret_cast<void*>(module));
}

#endif

ModuleHandle loadLibrary(const std::string& fileName)
{
    std::string ignored;
    return loadLibrary(fileName, ignored);
}

} // namespace platform
