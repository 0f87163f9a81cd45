#include "unrar/src/VolumeNames.h"

#include <cctype>

namespace unrar {
namespace {

// Splits at the extension's dot, looking only at the file name part.
size_t extensionDot(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string::npos;
    return dot;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string oldStyleNext(const std::string& path)
{
    size_t dot = extensionDot(path);
    std::string ext = dot == std::string::npos ? "" : lower(path.substr(dot + 1));
    std::string base = dot == std::string::npos ? path : path.substr(0, dot);
    if (ext.empty() || ext == "rar" || ext == "exe" || ext == "sfx")
        return base + ".r00";
    std::string e = path.substr(dot + 1);
    if (e.size() == 3 && std::isdigit(static_cast<unsigned char>(e[1])) &&
        std::isdigit(static_cast<unsigned char>(e[2]))) {
        int n = (e[1] - '0') * 10 + (e[2] - '0') + 1;
        if (n == 100) {
            n = 0;
            ++e[0];
        }
        e[1] = static_cast<char>('0' + n / 10);
        e[2] = static_cast<char>('0' + n % 10);
        return base + "." + e;
    }
    return base + ".r00";
}

} // namespace

std::string nextVolumeName(const std::string& current, bool newNumbering)
{
    if (!newNumbering)
        return oldStyleNext(current);
    size_t dot = extensionDot(current);
    std::string base = dot == std::string::npos ? current : current.substr(0, dot);
    size_t slash = base.find_last_of('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t end = base.size();
    while (end > nameStart && !std::isdigit(static_cast<unsigned char>(base[end - 1])))
        --end;
    if (end == nameStart)
        return oldStyleNext(current);
    size_t i = end;
    for (;;) {
        if (i == nameStart || !std::isdigit(static_cast<unsigned char>(base[i - 1]))) {
            base = base.substr(0, i) + std::string(1, '1') + base.substr(i);
            break;
        }
        --i;
        if (base[i] == '9') {
            base[i] = '0';
        } else {
            ++base[i];
            break;
        }
    }
    return base + ".rar";
}

} // namespace unrar
