#pragma once
// Where the tests find the archives made by RAR itself: the folder CMake
// found beside the project (UNRAR_SAMPLES_DIR, empty when there is none),
// unless TAVREL_RAR_SAMPLES names another one at run time.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace unrar_test {

inline std::filesystem::path samplesFolder()
{
    if (const char* env = std::getenv("TAVREL_RAR_SAMPLES"); env && *env)
        return env;
    return UNRAR_SAMPLES_DIR;
}

// The sample's path, or an empty one when there is no sample folder.
inline std::filesystem::path samplePath(const std::string& file)
{
    const std::filesystem::path folder = samplesFolder();
    return folder.empty() ? std::filesystem::path() : folder / file;
}

// Why a test that needs `file` cannot run; empty when the sample is there.
inline std::string missingSample(const std::string& file)
{
    const std::filesystem::path folder = samplesFolder();
    if (folder.empty())
        return "no RAR sample folder: put shared/reference/samples beside the project and configure again, "
               "or set TAVREL_RAR_SAMPLES";
    const std::filesystem::path path = folder / file;
    return std::filesystem::exists(path) ? std::string() : "RAR sample not found: " + path.string();
}

} // namespace unrar_test
