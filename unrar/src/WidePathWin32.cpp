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

namespace {

std::string codePageToUtf8(const char* text, UINT codePage)
{
    if (!text || !*text)
        return {};
    const int size = MultiByteToWideChar(codePage, 0, text, -1, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, wide.data(), size);
    wide.resize(static_cast<size_t>(size - 1));
    return wideToUtf8(wide);
}

} // namespace

std::string ansiToUtf8(const char* ansi) { return codePageToUtf8(ansi, CP_ACP); }

std::string oemToUtf8(const char* oem) { return codePageToUtf8(oem, CP_OEMCP); }

} // namespace unrar
