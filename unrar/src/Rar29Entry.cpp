#include "unrar/src/Rar29Entry.h"

#include <algorithm>
#include <cstring>

#include "unrar/include/unrar_api.h"

namespace unrar {

bool isRar29Method(const Entry& e) { return e.unpVer == 29 || e.unpVer == 36; }

int rar29ResultCode(rar29::DecodeStatus status)
{
    switch (status) {
    case rar29::DecodeStatus::Ok: return ERAR_SUCCESS;
    case rar29::DecodeStatus::NoMemory: return ERAR_NO_MEMORY;
    // The genuine library cannot run a filter program of its own making
    // either: the file fails its check.
    case rar29::DecodeStatus::Unsupported:
    case rar29::DecodeStatus::Corrupt:
    case rar29::DecodeStatus::Cancelled: break;
    }
    return ERAR_BAD_DATA;
}

bool unpackRar29(const Entry& service, const std::string& packed, std::string& out)
{
    if (!isRar29Method(service))
        return false;
    size_t offset = 0;
    rar29::PackedSource source = [&](uint8_t* buffer, size_t size) -> long long {
        const size_t n = std::min(size, packed.size() - offset);
        std::memcpy(buffer, packed.data() + offset, n);
        offset += n;
        return static_cast<long long>(n);
    };
    out.clear();
    rar29::OutputFunction output = [&](const uint8_t* data, size_t size) {
        out.append(reinterpret_cast<const char*>(data), size);
        return true;
    };
    rar29::FileRequest request;
    request.sizeKnown = service.unpSizeKnown;
    request.size = service.unpSize;
    rar29::Decoder decoder;
    return decoder.decodeFile(request, std::move(source), output) == rar29::DecodeStatus::Ok;
}

} // namespace unrar
