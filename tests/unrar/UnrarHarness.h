#pragma once
// Drives the library through its C interface only, recording every
// callback message, as the archive component would see them.
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "unrar/include/unrar_api.h"

namespace unrar_test {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        path_ = fs::temp_directory_path() / ("unrar-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        fs::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

inline std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& p, const std::string& data)
{
    std::ofstream out(p, std::ios::binary);
    out << data;
}

struct Message {
    unsigned msg;
    std::string text; // volume name (8-bit or converted wide), empty for data
    long mode;        // P2: volume mode, data size or buffer size
};

struct Header {
    std::string fileName;
    std::wstring fileNameW;
    std::string arcName;
    RARHeaderDataEx raw;
};

// One open handle with a recording callback. `onMessage` may answer a
// message itself (and write into the buffer); by default everything gets 1.
class Session {
public:
    std::vector<Message> messages;
    uint64_t processedBytes = 0;
    std::function<int(unsigned msg, RAR_LPARAM p1, RAR_LPARAM p2)> onMessage;
    RAROpenArchiveDataEx open{};
    unsigned opFlags = 0; // ROADOF_* for the next open
    RAR_HANDLE handle = nullptr;
    std::vector<char> comment;

    Session() { std::setlocale(LC_ALL, "C.UTF-8"); }
    ~Session() { close(); }

    bool openArchive(const fs::path& path, unsigned mode, bool callbackInOpen = true, unsigned cmtBufSize = 0)
    {
        name_ = path.string();
        open = {};
        open.ArcName = name_.data();
        open.OpenMode = mode;
        open.OpFlags = opFlags;
        if (cmtBufSize) {
            comment.assign(cmtBufSize, '\x7F');
            open.CmtBuf = comment.data();
            open.CmtBufSize = cmtBufSize;
        }
        if (callbackInOpen) {
            open.Callback = &Session::callback;
            open.UserData = reinterpret_cast<RAR_LPARAM>(this);
        }
        handle = RAROpenArchiveEx(&open);
        return handle != nullptr;
    }

    void setCallback() { RARSetCallback(handle, &Session::callback, reinterpret_cast<RAR_LPARAM>(this)); }

    int readHeader(Header& h)
    {
        std::memset(&h.raw, 0, sizeof h.raw);
        int r = RARReadHeaderEx(handle, &h.raw);
        if (r == 0) {
            h.fileName = h.raw.FileName;
            h.fileNameW = h.raw.FileNameW;
            h.arcName = h.raw.ArcName;
        }
        return r;
    }

    int process(int op, const fs::path& destPath = {}, const fs::path& destName = {})
    {
        std::string p = destPath.string(), n = destName.string();
        return RARProcessFile(handle, op, destPath.empty() ? nullptr : p.data(), destName.empty() ? nullptr : n.data());
    }

    // Reads every header, applying `op` to each; returns the names and the
    // code of every step, ending with the code that stopped the walk.
    struct Walk {
        std::vector<Header> headers;
        std::vector<int> processCodes;
        int endCode = 0;
    };
    Walk walk(int op, const fs::path& dest = {})
    {
        Walk w;
        for (int guard = 0; guard < 10000; ++guard) {
            Header h;
            int r = readHeader(h);
            if (r != 0) {
                w.endCode = r;
                break;
            }
            w.headers.push_back(h);
            w.processCodes.push_back(process(op, dest));
        }
        return w;
    }

    void close()
    {
        if (handle)
            RARCloseArchive(handle);
        handle = nullptr;
    }

    static int RAR_CALLBACK callback(unsigned msg, RAR_LPARAM userData, RAR_LPARAM p1, RAR_LPARAM p2)
    {
        auto* self = reinterpret_cast<Session*>(userData);
        Message m{msg, {}, static_cast<long>(p2)};
        if (msg == UCM_CHANGEVOLUME)
            m.text = reinterpret_cast<const char*>(p1);
        if (msg == UCM_CHANGEVOLUMEW) {
            const wchar_t* w = reinterpret_cast<const wchar_t*>(p1);
            for (; *w; ++w)
                m.text += static_cast<char>(*w < 128 ? *w : '?');
        }
        if (msg == UCM_PROCESSDATA)
            self->processedBytes += static_cast<uint64_t>(p2);
        self->messages.push_back(m);
        if (self->onMessage)
            return self->onMessage(msg, p1, p2);
        // A host that knows nothing of large dictionaries leaves the message unanswered.
        return msg == UCM_LARGEDICT ? 0 : 1;
    }

    std::vector<unsigned> messageKinds(bool withData = false) const
    {
        std::vector<unsigned> kinds;
        for (const Message& m : messages)
            if (withData || m.msg != UCM_PROCESSDATA)
                kinds.push_back(m.msg);
        return kinds;
    }

private:
    std::string name_;
};

inline std::vector<std::string> names(const Session::Walk& w)
{
    std::vector<std::string> out;
    for (const Header& h : w.headers)
        out.push_back(h.fileName);
    return out;
}

} // namespace unrar_test
