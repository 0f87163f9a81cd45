#include "unrar/src/Callbacks.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "unrar/src/TextConvert.h"
#include "unrar/src/crypt/Wipe.h"

namespace unrar {
namespace {

// Room for the 1024 characters an application may write, and a zero after them.
constexpr size_t kNameBuffer = 2048;
constexpr size_t kPasswordBuffer = 512;

RAR_LPARAM asParam(const void* p) { return static_cast<RAR_LPARAM>(reinterpret_cast<intptr_t>(p)); }

std::vector<char> narrowBuffer(const std::string& text, size_t size)
{
    std::vector<char> buf(size, '\0');
    std::memcpy(buf.data(), text.data(), std::min(text.size(), size - 1));
    return buf;
}

std::vector<wchar_t> wideBuffer(const std::wstring& text, size_t size)
{
    std::vector<wchar_t> buf(size, L'\0');
    std::copy_n(text.data(), std::min(text.size(), size - 1), buf.data());
    return buf;
}

// The application may leave the buffer unterminated; read it within bounds.
std::string fromBuffer(std::vector<char>& buf)
{
    buf.back() = '\0';
    return std::string(buf.data());
}
std::wstring fromBuffer(std::vector<wchar_t>& buf)
{
    buf.back() = L'\0';
    return std::wstring(buf.data());
}

} // namespace

bool Callbacks::processData(const unsigned char* data, size_t size) const
{
    if (callback && callback(UCM_PROCESSDATA, userData, asParam(data), static_cast<RAR_LPARAM>(size)) == -1)
        return false;
    if (processDataProc && processDataProc(const_cast<unsigned char*>(data), static_cast<int>(size)) == 0)
        return false;
    return true;
}

bool Callbacks::notifyVolume(const std::string& name) const
{
    if (callback) {
        auto wide = wideBuffer(utf8ToWide(name), kNameBuffer);
        if (callback(UCM_CHANGEVOLUMEW, userData, asParam(wide.data()), RAR_VOL_NOTIFY) == -1)
            return false;
        auto narrow = narrowBuffer(name, kNameBuffer);
        if (callback(UCM_CHANGEVOLUME, userData, asParam(narrow.data()), RAR_VOL_NOTIFY) == -1)
            return false;
    }
    if (changeVolProc) {
        auto narrow = narrowBuffer(name, kNameBuffer);
        if (changeVolProc(narrow.data(), RAR_VOL_NOTIFY) == 0)
            return false;
    }
    return true;
}

bool Callbacks::askVolume(std::string& name) const
{
    if (!callback && !changeVolProc)
        return false;
    if (callback) {
        const std::wstring before = utf8ToWide(name);
        auto wide = wideBuffer(before, kNameBuffer);
        if (callback(UCM_CHANGEVOLUMEW, userData, asParam(wide.data()), RAR_VOL_ASK) == -1)
            return false;
        std::wstring after = fromBuffer(wide);
        if (after != before) {
            name = wideToUtf8(after);
            return true;
        }
        auto narrow = narrowBuffer(name, kNameBuffer);
        if (callback(UCM_CHANGEVOLUME, userData, asParam(narrow.data()), RAR_VOL_ASK) == -1)
            return false;
        name = fromBuffer(narrow);
    }
    if (changeVolProc) {
        auto narrow = narrowBuffer(name, kNameBuffer);
        if (changeVolProc(narrow.data(), RAR_VOL_ASK) == 0)
            return false;
        name = fromBuffer(narrow);
    }
    return true;
}

bool Callbacks::askPassword(std::string& password) const
{
    if (!callback)
        return false;
    // The buffers held the password: wiped however the request ends.
    std::vector<wchar_t> wide(kPasswordBuffer, L'\0');
    std::vector<char> narrow(kPasswordBuffer, '\0');
    struct Wipe {
        std::vector<wchar_t>& wide;
        std::vector<char>& narrow;
        ~Wipe()
        {
            crypt::wipe(wide.data(), wide.size() * sizeof(wchar_t));
            crypt::wipe(narrow.data(), narrow.size());
        }
    } wipe{wide, narrow};
    if (callback(UCM_NEEDPASSWORDW, userData, asParam(wide.data()), static_cast<RAR_LPARAM>(wide.size())) == -1)
        return false;
    wide.back() = L'\0';
    if (wide[0] != L'\0') {
        std::wstring w(wide.data());
        password = wideToUtf8(w);
        crypt::wipe(w.data(), w.size() * sizeof(wchar_t));
        return true;
    }
    if (callback(UCM_NEEDPASSWORD, userData, asParam(narrow.data()), static_cast<RAR_LPARAM>(narrow.size())) == -1)
        return false;
    password = fromBuffer(narrow);
    return !password.empty();
}

bool Callbacks::allowLargeDictionary(uint64_t neededKB, uint64_t limitKB) const
{
    return callback &&
           callback(UCM_LARGEDICT, userData, static_cast<RAR_LPARAM>(neededKB), static_cast<RAR_LPARAM>(limitKB)) == 1;
}

} // namespace unrar
