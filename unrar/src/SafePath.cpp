#include "unrar/src/SafePath.h"

#include <cctype>

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
    for (const std::string& part : components)
        if (part == "." || part == "..")
            return false;
    return !components.empty();
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
