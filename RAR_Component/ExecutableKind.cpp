#include "ExecutableKind.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <fstream>

namespace {

std::uint32_t readLe(const unsigned char* p, int bytes)
{
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

// Reads `size` bytes at `offset`; false when the file is shorter.
bool readAt(std::ifstream& in, std::uint32_t offset, unsigned char* out, std::size_t size)
{
    in.clear();
    in.seekg(offset);
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint16_t kSubsystemPosix = 7;
constexpr unsigned char kNeTargetOs2 = 1;

ExecutableKind classifyNewHeader(std::ifstream& in, std::uint32_t newHeader)
{
    std::array<unsigned char, 0x60> h{};
    if (!readAt(in, newHeader, h.data(), 4))
        return ExecutableKind::Dos;
    if (h[0] == 'P' && h[1] == 'E' && h[2] == 0 && h[3] == 0) {
        // File header (20 bytes) follows the signature, then the optional header.
        if (!readAt(in, newHeader, h.data(), h.size()))
            return ExecutableKind::None;
        const unsigned char* optional = h.data() + 24;
        const auto magic = static_cast<std::uint16_t>(readLe(optional, 2));
        const auto subsystem = static_cast<std::uint16_t>(readLe(optional + 68, 2));
        if (magic != kPe32Magic && magic != kPe32PlusMagic)
            return ExecutableKind::None;
        if (subsystem == kSubsystemPosix)
            return ExecutableKind::Posix;
        return magic == kPe32PlusMagic ? ExecutableKind::Win64 : ExecutableKind::Win32;
    }
    if (h[0] == 'N' && h[1] == 'E') {
        unsigned char targetOs = 0;
        if (!readAt(in, newHeader + 0x36, &targetOs, 1))
            return ExecutableKind::None;
        return targetOs == kNeTargetOs2 ? ExecutableKind::Os2 : ExecutableKind::Win16;
    }
    return ExecutableKind::Dos;
}

} // namespace

ExecutableKind executableKind(const std::filesystem::path& file)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return ExecutableKind::None;
    std::ifstream in(file, std::ios::binary);
    std::array<unsigned char, 64> dos{};
    if (!in || !readAt(in, 0, dos.data(), 4)) {
        return ExecutableKind::None;
    }
    if (dos[0] == 0x7F && dos[1] == 'E' && dos[2] == 'L' && dos[3] == 'F')
        return ExecutableKind::Elf;
    const bool mz = (dos[0] == 'M' && dos[1] == 'Z') || (dos[0] == 'Z' && dos[1] == 'M');
    if (!mz) {
        auto ext = file.extension().string();
        for (auto& c : ext)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return ext == ".pif" ? ExecutableKind::Pif : ExecutableKind::None;
    }
    if (!readAt(in, 0, dos.data(), dos.size()))
        return ExecutableKind::Dos;
    const std::uint32_t newHeader = readLe(dos.data() + 0x3C, 4);
    if (newHeader < dos.size())
        return ExecutableKind::Dos;
    return classifyNewHeader(in, newHeader);
}
