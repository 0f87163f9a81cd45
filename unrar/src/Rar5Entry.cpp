#include "unrar/src/Rar5Entry.h"

#include "unrar/include/unrar_api.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/PackedSource.h"
#include "unrar/src/decode/Rar5Decoder.h"

namespace unrar {

bool unpackRar5(const Entry& service, const std::string& packed, std::string& out)
{
    if (service.unpVer != 50 || service.method > 0x35 || service.solid || !service.unpSizeKnown)
        return false;
    decode::Rar5Decoder decoder;
    decode::Rar5Entry job;
    job.unpackedSize = service.unpSize;
    job.dictionarySize = uint64_t(service.dictKB) * 1024;
    decode::MemorySource in(packed.data(), packed.size());
    decode::OutputPipeline pipeline(size_t(1) << 16, 2);
    pipeline.beginIntoString(out);
    if (decoder.decode(job, in, pipeline) != ERAR_SUCCESS) {
        pipeline.abandon();
        return false;
    }
    return pipeline.finish() == ERAR_SUCCESS;
}

} // namespace unrar
