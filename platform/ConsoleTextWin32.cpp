#include "ConsoleText.h"

#include "TextCodec.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <memory>
#include <optional>
#include <streambuf>
#include <utility>

#include <windows.h>

namespace platform {

namespace {

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode) != 0;
}

// Collects UTF-8 bytes and writes each whole character to the console as
// UTF-16; a character cut by the buffer's end waits for its other bytes.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) { setp(bytes_.data(), bytes_.data() + bytes_.size()); }
    ~ConsoleBuffer() override { sync(); }
    ConsoleBuffer(const ConsoleBuffer&) = delete;
    ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;

protected:
    int_type overflow(int_type c) override
    {
        writeWhole();
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }

    int sync() override
    {
        writeWhole();
        return 0;
    }

private:
    // Writes what the buffer holds up to the last whole character and keeps the rest.
    void writeWhole()
    {
        const std::size_t held = static_cast<std::size_t>(pptr() - pbase());
        std::size_t whole = held;
        // A lead byte among the last three whose sequence runs past the end.
        for (std::size_t back = 1; back <= 3 && back <= held; ++back) {
            const auto byte = static_cast<unsigned char>(bytes_[held - back]);
            if ((byte & 0xC0) == 0x80)
                continue;
            const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
            if (length > back)
                whole = held - back;
            break;
        }
        const std::u16string text = toUtf16(std::string_view(bytes_.data(), whole));
        DWORD written = 0;
        if (!text.empty())
            WriteConsoleW(console_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        const std::size_t rest = held - whole;
        std::copy(bytes_.data() + whole, bytes_.data() + held, bytes_.data());
        setp(bytes_.data(), bytes_.data() + bytes_.size());
        pbump(static_cast<int>(rest));
    }

    HANDLE console_;
    std::array<char, 4096> bytes_{};
};

struct Swap {
    std::ostream& stream;
    std::unique_ptr<ConsoleBuffer> buffer;
    std::streambuf* saved = nullptr;
};

} // namespace

struct ConsoleStreams::Redirected {
    std::array<std::optional<Swap>, 2> swaps;
};

ConsoleStreams::ConsoleStreams() : redirected_(std::make_unique<Redirected>())
{
    const std::pair<std::ostream*, DWORD> streams[] = {{&std::cout, STD_OUTPUT_HANDLE}, {&std::cerr, STD_ERROR_HANDLE}};
    for (std::size_t i = 0; i < 2; ++i) {
        const HANDLE handle = GetStdHandle(streams[i].second);
        if (!isConsole(handle))
            continue;
        std::ostream& stream = *streams[i].first;
        stream.flush();
        auto buffer = std::make_unique<ConsoleBuffer>(handle);
        std::streambuf* saved = stream.rdbuf(buffer.get());
        redirected_->swaps[i].emplace(Swap{stream, std::move(buffer), saved});
    }
}

ConsoleStreams::~ConsoleStreams()
{
    for (auto& swap : redirected_->swaps) {
        if (!swap)
            continue;
        swap->stream.flush();
        swap->stream.rdbuf(swap->saved);
    }
}

std::optional<std::string> readInputLine(bool hidden, const std::string& prompt)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!isConsole(input))
        return readStandardLine();
    DWORD mode = 0;
    GetConsoleMode(input, &mode);
    if (hidden) {
        SetConsoleMode(input, mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
        std::cerr << prompt << std::flush;
    }
    std::u16string line;
    bool ended = false;
    for (;;) {
        char16_t c = 0;
        DWORD read = 0;
        if (!ReadConsoleW(input, &c, 1, &read, nullptr) || read == 0)
            break;
        if (c == u'\n') {
            ended = true;
            break;
        }
        if (c == 0x1A && line.empty()) // Ctrl-Z: the console's end of input
            break;
        if (c != u'\r')
            line += c;
    }
    if (hidden) {
        SetConsoleMode(input, mode);
        std::cerr << std::endl;
    }
    if (!ended && line.empty())
        return std::nullopt;
    return toUtf8(line);
}

} // namespace platform
