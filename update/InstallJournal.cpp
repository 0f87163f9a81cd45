#include "InstallJournal.h"

#include "platform/Durability.h"
#include "platform/FileOps.h"
#include "platform/SharedFolder.h"

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "tavrel install journal 1";
constexpr const char* kCommitted = "committed";

// Names may hold any byte but the separator; line breaks and the escape
// character itself are written as %XX so that one entry is one line.
std::string escaped(const std::string& name)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : name) {
        if (c == '%' || c == '\n' || c == '\r') {
            out += '%';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// Names are kept as UTF-8, which holds every name on every system; the
// narrow form of a Windows path is the ANSI code page, which does not.
std::string utf8Text(const fs::path& path)
{
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// With the system's separators: it is joined to a program folder that may be an extended path.
fs::path utf8Path(const std::string& text)
{
    return fs::path(std::u8string(text.begin(), text.end())).make_preferred();
}

std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* kindWord(JournalEntry::Kind kind)
{
    switch (kind) {
    case JournalEntry::Kind::Folder: return "folder";
    case JournalEntry::Kind::Replace: return "replace";
    case JournalEntry::Kind::Add: return "add";
    }
    return "";
}

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno ? errno : EIO, std::generic_category(), what);
}

} // namespace

void InstallJournal::write(const std::vector<JournalEntry>& entries) const
{
    const fs::path temporary = fs::path(file_) += ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kHeader << '\n';
        for (const JournalEntry& e : entries)
            out << kindWord(e.kind) << ' ' << escaped(utf8Text(e.relative)) << '\n';
        out.flush();
        if (!out)
            throwErrno("Cannot write " + temporary.string());
    }
    platform::shareWithFolder(temporary);
    platform::syncFiles({platform::fromPath(temporary)});
    fs::rename(temporary, file_);
    platform::syncFolder(platform::fromPath(file_.parent_path()));
}

void InstallJournal::markCommitted() const
{
    {
        std::ofstream out(file_, std::ios::binary | std::ios::app);
        out << kCommitted << '\n';
        out.flush();
        if (!out)
            throwErrno("Cannot write " + file_.string());
    }
    platform::syncFiles({platform::fromPath(file_)});
}

std::optional<JournalContents> InstallJournal::read() const
{
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(file_, ec)))
        return std::nullopt;
    std::ifstream in(file_, std::ios::binary);
    std::string line;
    if (!std::getline(in, line) || line != kHeader)
        throw std::runtime_error("not an install journal: " + file_.string());
    JournalContents contents;
    while (std::getline(in, line)) {
        if (line == kCommitted) {
            contents.committed = true;
            continue;
        }
        const auto space = line.find(' ');
        // A line cut short by a crash is the commit mark that did not make it.
        if (space == std::string::npos)
            continue;
        const std::string word = line.substr(0, space);
        const fs::path relative = utf8Path(unescaped(line.substr(space + 1)));
        if (word == "folder")
            contents.entries.push_back({JournalEntry::Kind::Folder, relative});
        else if (word == "replace")
            contents.entries.push_back({JournalEntry::Kind::Replace, relative});
        else if (word == "add")
            contents.entries.push_back({JournalEntry::Kind::Add, relative});
        else
            throw std::runtime_error("not an install journal: " + file_.string());
    }
    return contents;
}

void InstallJournal::remove() const
{
    std::error_code ec;
    if (fs::remove(file_, ec))
        platform::syncFolder(platform::fromPath(file_.parent_path()));
}
