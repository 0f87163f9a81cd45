#include "unrar/src/WidePath.h"

#include <windows.h>

#include "unrar/src/TextConvert.h"

namespace unrar {

std::wstring extendedPath(const std::string& utf8)
{
    std::wstring path = utf8ToWide(utf8);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.starts_with(L"\\\\?\\"))
        return path;
    const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0)
        return {};
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size)
        return {};
    full.resize(length);
    if (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring childPath(const std::wstring& folder, const std::string& name)
{
    std::wstring path = folder;
    if (!path.ends_with(L'\\'))
        path += L'\\';
    return path + utf8ToWide(name);
}

std::string ansiToUtf8(const char* ansi)
{
    if (!ansi || !*ansi)
        return {};
    const int size = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide.data(), size);
    wide.resize(static_cast<size_t>(size - 1));
    return wideToUtf8(wide);
}

} // namespace unrar
