#include "db/SettingsFile.h"

#include <charconv>

std::unique_ptr<TSettingsFile> UserIniFile;

TSettingsFile::TSettingsFile(const std::filesystem::path& path) : file_(path) {}

int TSettingsFile::ReadInteger(const std::string& Section, const std::string& Ident, int Default) const
{
    const std::optional<std::string> text = file_.read(Section, Ident);
    if (!text || text->empty())
        return Default;
    const char* first = text->data();
    const char* last = first + text->size();
    if (*first == '+')
        ++first; // from_chars takes a minus sign only
    int value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, 10);
    if (ec != std::errc() || end != last || first == last)
        return Default;
    return value;
}

std::string TSettingsFile::ReadString(const std::string& Section, const std::string& Ident,
                                      const std::string& Default) const
{
    return file_.read(Section, Ident).value_or(Default);
}

void TSettingsFile::WriteInteger(const std::string& Section, const std::string& Ident, int Value)
{
    file_.write(Section, Ident, std::to_string(Value));
}

void TSettingsFile::WriteString(const std::string& Section, const std::string& Ident, const std::string& Value)
{
    file_.write(Section, Ident, Value);
}
