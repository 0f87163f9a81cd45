#include "unrar/src/SafePath.h"

#include <cctype>
#include <cstring>

namespace unrar {

bool splitRelativeName(const std::string& name, std::vector<std::string>& parts)
{
    parts.clear();
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    // Both separators count whatever the host: a name from a Windows archive
    // may carry '\', and one that would mean something else on another
    // system is not worth the risk.
    if (name[0] == '/' || name[0] == '\\')
        return false;
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        return false;
    std::string part;
    for (char c : name) {
        if (c != '/' && c != '\\') {
            part += c;
            continue;
        }
        if (!part.empty())
            parts.push_back(part);
        part.clear();
    }
    if (!part.empty())
        parts.push_back(part);
    return true;
}

bool splitSafeRelativePath(const std::string& name, std::vector<std::string>& components)
{
    if (!splitRelativeName(name, components))
        return false;
    for (const std::string& part : components) {
        if (part == "." || part == "..")
            return false;
#ifdef _WIN32
        if (!isWindowsFileName(part))
            return false;
#endif
    }
    return !components.empty();
}

bool isWindowsFileName(const std::string& component)
{
    if (component.empty() || component.back() == '.' || component.back() == ' ')
        return false;
    for (unsigned char c : component)
        if (c < 0x20 || std::strchr("<>:\"|?*", c))
            return false;
    // A device name stays the device whatever extension follows it.
    std::string stem = component.substr(0, component.find('.'));
    while (!stem.empty() && stem.back() == ' ')
        stem.pop_back();
    for (char& c : stem)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : devices)
        if (stem == device)
            return false;
    const bool numbered = stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT"));
    return !(numbered && stem[3] >= '0' && stem[3] <= '9');
}

std::string joinComponents(const std::vector<std::string>& components)
{
    std::string out;
    for (size_t i = 0; i < components.size(); ++i) {
        if (i)
            out += '/';
        out += components[i];
    }
    return out;
}

} // namespace unrar
