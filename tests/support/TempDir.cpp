#include "tests/support/TempDir.h"

#include "platform/FileOps.h"
#include "platform/FolderTree.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <random>
#else
#include <unistd.h>
#endif

namespace testsupport {

TempDir::TempDir(const std::string& prefix)
{
#ifdef _WIN32
    // No mkdtemp: random names until one is new.
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        path_ = std::filesystem::temp_directory_path() / (prefix + "-" + std::to_string(random()));
        if (std::filesystem::create_directory(path_))
            return;
    }
    throw std::runtime_error("cannot create a temporary folder for " + prefix);
#else
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!::mkdtemp(buffer.data()))
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    path_ = buffer.data();
#endif
}

TempDir::~TempDir()
{
    std::error_code ignored;
    platform::removeTree(platform::extendedPath(path_), ignored);
}

CurrentDirectory::CurrentDirectory(const std::filesystem::path& folder) : saved_(std::filesystem::current_path())
{
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
}

CurrentDirectory::~CurrentDirectory()
{
    std::error_code ignored;
    std::filesystem::current_path(saved_, ignored);
}

std::string readFileBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFileBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::map<std::string, std::string> folderContents(const std::filesystem::path& root)
{
    std::map<std::string, std::string> files;
    std::error_code ec;
    // The platform's walk: the C++ library's stops at 260 characters on Windows.
    const auto tree = platform::folderTree(platform::extendedPath(root), ec);
    if (ec)
        throw std::filesystem::filesystem_error("cannot list", root, ec);
    for (const platform::FolderEntry& entry : tree) {
        std::error_code ignored;
        files[platform::plainPath(entry.path).lexically_relative(platform::plainPath(root)).generic_string()] =
            std::filesystem::is_directory(entry.path, ignored) ? "<folder>" : readFileBytes(entry.path);
    }
    return files;
}

} // namespace testsupport
