#include "unrar/src/SafePath.h"

#include <cctype>

namespace unrar {

bool splitSafeRelativePath(const std::string& name, std::vector<std::string>& components)
{
    components.clear();
    if (name.empty() || name.find('\0') != std::string::npos)
        return false;
    // Both separators count: a name from a Windows archive may carry '\'.
    if (name[0] == '/' || name[0] == '\\')
        return false;
    if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
        return false;
    std::string part;
    auto flush = [&]() {
        if (part.empty())
            return true;
        if (part == "." || part == "..")
            return false;
        components.push_back(part);
        part.clear();
        return true;
    };
    for (char c : name) {
        if (c == '/' || c == '\\') {
            if (!flush())
                return false;
        } else {
            part += c;
        }
    }
    if (!flush())
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
