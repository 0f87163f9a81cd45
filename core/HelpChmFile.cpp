#include "core/HelpChmFile.h"

#include <chm_lib.h>

#include <algorithm>
#include <cctype>

namespace core {

namespace {

// A damaged file may claim any length for an object; no help page comes near this.
constexpr LONGUINT64 kMaxObjectSize = 64u << 20;

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

int collectPaths(chmFile*, chmUnitInfo* ui, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(ui->path);
    return CHM_ENUMERATOR_CONTINUE;
}

std::vector<std::string> allFiles(chmFile* handle)
{
    std::vector<std::string> paths;
    chm_enumerate(handle, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, collectPaths, &paths);
    return paths;
}

// The value of attribute `name` inside one tag's text (already lower-cased
// for the search; the value is taken from the original).
std::string attribute(const std::string& tag, const std::string& tagLower, const std::string& name)
{
    const auto at = tagLower.find(name + "=");
    if (at == std::string::npos)
        return {};
    size_t start = at + name.size() + 1;
    if (start < tag.size() && (tag[start] == '"' || tag[start] == '\'')) {
        const char quote = tag[start++];
        const auto end = tag.find(quote, start);
        return tag.substr(start, end == std::string::npos ? std::string::npos : end - start);
    }
    auto end = start;
    while (end < tag.size() && !std::isspace(static_cast<unsigned char>(tag[end])) && tag[end] != '>')
        ++end;
    return tag.substr(start, end - start);
}

} // namespace

std::unique_ptr<HelpChmFile> HelpChmFile::open(const std::string& path)
{
    chmFile* handle = chm_open(path.c_str());
    if (!handle)
        return nullptr;
    return std::unique_ptr<HelpChmFile>(new HelpChmFile(handle));
}

HelpChmFile::~HelpChmFile() { chm_close(handle_); }

std::optional<std::string> HelpChmFile::read(const std::string& page) const
{
    const std::string path = page.empty() || page.front() != '/' ? "/" + page : page;
    chmUnitInfo ui{};
    if (chm_resolve_object(handle_, path.c_str(), &ui) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (ui.length > kMaxObjectSize)
        return std::nullopt;
    std::string bytes(static_cast<size_t>(ui.length), '\0');
    if (ui.length == 0)
        return bytes;
    const LONGINT64 got = chm_retrieve_object(handle_, &ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                                              static_cast<LONGINT64>(ui.length));
    if (got != static_cast<LONGINT64>(ui.length))
        return std::nullopt; // a damaged file: never show half a page
    return bytes;
}

std::vector<HelpChmFile::ContentsEntry> HelpChmFile::contents() const
{
    for (const std::string& path : allFiles(handle_)) {
        if (endsWith(lower(path), ".hhc")) {
            if (const auto sitemap = read(path))
                return parseHelpSitemap(*sitemap);
        }
    }
    return {};
}

std::vector<std::string> HelpChmFile::pages() const
{
    std::vector<std::string> result;
    for (const std::string& path : allFiles(handle_)) {
        const std::string name = lower(path);
        if (endsWith(name, ".html") || endsWith(name, ".htm"))
            result.push_back(path);
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<HelpChmFile::ContentsEntry> parseHelpSitemap(const std::string& sitemap)
{
    // Each entry is an <object type="text/sitemap"> with <param name="Name">
    // and <param name="Local">; nested <ul> lists give the levels.
    const std::string text = lower(sitemap);
    std::vector<HelpChmFile::ContentsEntry> entries;
    int level = -1;
    HelpChmFile::ContentsEntry current;
    bool inEntry = false;
    for (size_t pos = text.find('<'); pos != std::string::npos; pos = text.find('<', pos + 1)) {
        const auto close = text.find('>', pos);
        if (close == std::string::npos)
            break;
        const std::string tagLower = text.substr(pos, close - pos + 1);
        const std::string tag = sitemap.substr(pos, close - pos + 1);
        if (tagLower.rfind("<ul", 0) == 0) {
            ++level;
        } else if (tagLower.rfind("</ul", 0) == 0) {
            level = std::max(-1, level - 1);
        } else if (tagLower.rfind("<object", 0) == 0) {
            inEntry = attribute(tag, tagLower, "type") == "text/sitemap";
            current = {};
            current.level = std::max(0, level);
        } else if (inEntry && tagLower.rfind("<param", 0) == 0) {
            const std::string name = lower(attribute(tag, tagLower, "name"));
            if (name == "name")
                current.name = attribute(tag, tagLower, "value");
            else if (name == "local")
                current.page = attribute(tag, tagLower, "value");
        } else if (inEntry && tagLower.rfind("</object", 0) == 0) {
            if (!current.name.empty() || !current.page.empty())
                entries.push_back(current);
            inEntry = false;
        }
        pos = close;
    }
    return entries;
}

} // namespace core
