#include "RecordFile.h"

#include "platform/Durability.h"
#include "platform/FileOps.h"
#include "platform/SharedFolder.h"
#include "platform/StagedFile.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

std::string escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string unescaped(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

} // namespace

std::optional<RecordFields> readRecordFile(const std::filesystem::path& path, const std::string& kind)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line) || line != kind)
        return std::nullopt;
    RecordFields fields;
    while (std::getline(in, line)) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            return std::nullopt; // not written by us, or cut short
        fields[line.substr(0, equals)] = unescaped(line.substr(equals + 1));
    }
    if (!in.eof())
        return std::nullopt;
    return fields;
}

void writeRecordFile(const std::filesystem::path& path, const std::string& kind, const RecordFields& fields,
                     bool durable)
{
    std::string text = kind + "\n";
    for (const auto& [key, value] : fields)
        text += key + "=" + escaped(value) + "\n";
    platform::StagedFile file(platform::fromPath(path));
    file.write(text.data(), text.size());
    platform::shareWithFolder(platform::toPath(file.temporaryPath()));
    if (durable) {
        std::fflush(file.stream());
        platform::syncFiles({file.temporaryPath()});
    }
    // The name belongs to the updater: a folder left in its place would
    // refuse every record, and each run would take the release for new.
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ec)))
        std::filesystem::remove_all(path, ec);
    file.commit();
    if (durable)
        platform::syncFolder(platform::fromPath(path.parent_path()));
}

namespace {

template <typename Number> std::optional<Number> numberField(const RecordFields& fields, const std::string& key)
{
    const auto it = fields.find(key);
    if (it == fields.end() || it->second.empty())
        return std::nullopt;
    Number value = 0;
    const char* end = it->second.data() + it->second.size();
    const auto [stop, error] = std::from_chars(it->second.data(), end, value);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::uint64_t> recordNumber(const RecordFields& fields, const std::string& key)
{
    return numberField<std::uint64_t>(fields, key);
}

std::optional<std::int64_t> recordSignedNumber(const RecordFields& fields, const std::string& key)
{
    return numberField<std::int64_t>(fields, key);
}
