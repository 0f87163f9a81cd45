#include <algorithm>
#include <cstring>
#include <vector>

#include "unrar/src/FormatReader.h"

namespace unrar {

namespace {
// The largest self-extracting module searched through, as RAR's own tools do.
constexpr uint64_t kMaxSfxSize = 2 * 1024 * 1024;
constexpr char kMarker[] = {'R', 'a', 'r', '!', '\x1A', '\x07'};
} // namespace

Signature findSignature(const VolumeFile& file, uint64_t& offset)
{
    // Most archives start with the signature; only a stub needs the scan.
    const uint64_t limit = std::min<uint64_t>(file.size(), kMaxSfxSize + 16);
    uint8_t head[8] = {};
    if (file.readAt(0, head, sizeof head) >= 7 && std::memcmp(head, kMarker, sizeof kMarker) == 0 && head[6] < 2) {
        if (head[6] == 0) {
            offset = 7;
            return Signature::Rar4;
        }
        if (head[7] == 0) {
            offset = 8;
            return Signature::Rar5;
        }
    }
    std::vector<uint8_t> buf(static_cast<size_t>(limit));
    if (limit == 0 || !file.readExact(0, buf.data(), buf.size()))
        return Signature::None;
    if (limit >= 4 && std::memcmp(buf.data(), "RE~^", 4) == 0)
        return Signature::Unsupported;
    for (size_t i = 0; i + 7 <= buf.size(); ++i) {
        if (buf[i] != 'R' || std::memcmp(buf.data() + i, kMarker, sizeof kMarker) != 0)
            continue;
        uint8_t v = buf[i + 6];
        if (v == 0) {
            offset = i + 7;
            return Signature::Rar4;
        }
        if (v == 1 && i + 8 <= buf.size() && buf[i + 7] == 0) {
            offset = i + 8;
            return Signature::Rar5;
        }
        if (v >= 2 && v <= 4)
            return Signature::Unsupported;
    }
    return Signature::None;
}

} // namespace unrar
