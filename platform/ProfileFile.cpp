#include "ProfileFile.h"

#include "FileOps.h"
#include "StagedFile.h"

// Bytes pass unchanged: the settings file is 8-bit text of the ANSI code page.
#define SI_NO_CONVERSION
// The packaged header carries its template bodies only on request.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

// Bytes are kept as they are (no code-page conversion); names compare without
// regard to case, and a duplicate key keeps all its lines, the first one
// counting, as the profile functions do.
// CSimpleIniA compares names without regard to case.
void configure(CSimpleIniA& ini)
{
    ini.SetUnicode(false);
    ini.SetMultiKey(true);
    ini.SetMultiLine(false);
    ini.SetSpaces(false);
}

// A missing or unreadable file loads as empty: the caller gets defaults.
bool load(const fs::path& path, CSimpleIniA& ini)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return false;
    const std::string data = content.str();
    return ini.LoadData(data.data(), data.size()) >= 0;
}

[[noreturn]] void refuse(const fs::path& path, const std::string& why)
{
    throw std::runtime_error("Не удалось записать файл настроек \"" + path.string() + "\": " + why);
}

// The file the key lands in: a link is followed, so that it stays a link.
fs::path writeTarget(const fs::path& path)
{
    std::error_code ec;
    if (fs::is_symlink(path, ec)) {
        fs::path resolved = fs::weakly_canonical(path, ec);
        if (!ec)
            return resolved;
    }
    return path;
}

bool isReadOnly(const fs::path& path, std::error_code& ec)
{
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status))
        return false;
    constexpr fs::perms anyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (status.permissions() & anyWrite) == fs::perms::none;
}

// A value enclosed in a matching pair of single or double quotes reads
// without them, as the profile functions read it (a path with blanks is
// often written so by hand).
std::string withoutEnclosingQuotes(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

ProfileFile::ProfileFile(fs::path path) : path_(std::move(path)) {}

std::optional<std::string> ProfileFile::read(const std::string& section, const std::string& key) const
{
    CSimpleIniA ini;
    configure(ini);
    if (!load(path_, ini))
        return std::nullopt;
    const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!value)
        return std::nullopt;
    return withoutEnclosingQuotes(value);
}

void ProfileFile::write(const std::string& section, const std::string& key, const std::string& value)
{
    const fs::path target = writeTarget(path_);
    std::error_code ec;
    // A read-only file is refused as Windows refuses it, even where the
    // folder would let a rename replace it.
    if (isReadOnly(target, ec))
        refuse(path_, "файл только для чтения");

    CSimpleIniA ini;
    configure(ini);
    if (fs::exists(target, ec) && !load(target, ini))
        refuse(path_, "файл не читается");
    if (ini.SetValue(section.c_str(), key.c_str(), value.c_str(), nullptr, /*forceReplace*/ true) < 0)
        refuse(path_, "нехватка памяти");
    std::string content;
    // A byte-order mark the file began with is written again (only such a file
    // loads in UTF-8 mode).
    if (ini.Save(content, /*addSignature*/ true) < 0)
        refuse(path_, "нехватка памяти");

    try {
        StagedFile out(fromPath(target));
        out.write(content.data(), content.size());
        // Keep the permissions the file had.
        const fs::file_status old = fs::status(target, ec);
        if (!ec && fs::exists(old))
            fs::permissions(toPath(out.temporaryPath()), old.permissions(), ec);
        out.commit();
    } catch (const std::system_error& e) {
        refuse(path_, e.code().message());
    }
}

} // namespace platform
