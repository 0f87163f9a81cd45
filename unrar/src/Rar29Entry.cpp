#include "unrar/src/Rar29Entry.h"

#include "unrar/include/unrar_api.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/PackedSource.h"

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
    decode::MemorySource source(packed.data(), packed.size());
    decode::OutputPipeline pipeline(size_t(1) << 16, 2);
    pipeline.beginIntoString(out);
    rar29::FileRequest request;
    request.sizeKnown = service.unpSizeKnown;
    request.size = service.unpSize;
    rar29::Decoder decoder;
    if (decoder.decodeFile(request, source, pipeline) != rar29::DecodeStatus::Ok) {
        pipeline.abandon();
        return false;
    }
    return pipeline.finish() == ERAR_SUCCESS;
}

} // namespace unrar
