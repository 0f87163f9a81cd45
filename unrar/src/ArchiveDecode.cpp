// Entries our own decoders unpack: the packed parts are pulled volume by
// volume into the decoder, and what it produces goes through the output
// pipeline, where a second thread checks and writes it.
#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>

#include "unrar/src/Archive.h"
#include "unrar/src/Crc32.h"
#include "unrar/src/Destination.h"
#include "unrar/src/Rar29Entry.h"
#include "unrar/src/crypt/DecryptingSource.h"

namespace unrar {
namespace {

// An encrypted stored entry is decrypted in blocks of this size.
constexpr size_t kStoredBlock = 4 << 20;

// The data areas of an entry's parts as one stream; moves to the next
// volume when a part is used up.
class PartSource final : public decode::PackedSource {
public:
    using NextPart = std::function<int(Entry&)>;
    // `checkDictionary`: a continuation must also repeat the dictionary size
    // (RAR 5.0; RAR 4.x volumes are documented to repeat only the version
    // and method of their first part).
    // `file` is the archive's open volume, which moves on to the next one in place.
    PartSource(const VolumeFile& file, NextPart next, Entry& part, bool checkDictionary = true)
        : file_(file), next_(std::move(next)), part_(part), offset_(part.dataOffset), left_(part.packSize),
          checkDictionary_(checkDictionary)
    {}

    long long read(uint8_t* out, size_t size) override
    {
        while (left_ == 0) {
            if (!part_.splitAfter || error_)
                return error_ ? -1 : 0;
            const Entry first = part_;
            const int r = next_(part_);
            // A continuation must describe the same packed stream.
            if (r == ERAR_SUCCESS && (part_.method != first.method || part_.unpVer != first.unpVer ||
                                      (checkDictionary_ && part_.dictKB != first.dictKB)))
                error_ = ERAR_BAD_DATA;
            else
                error_ = r;
            if (error_)
                return -1;
            offset_ = part_.dataOffset;
            left_ = part_.packSize;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
        const long long got = file_.readAt(offset_, out, want);
        if (got <= 0) {
            error_ = ERAR_BAD_DATA; // the header promised more than the volume holds
            return -1;
        }
        offset_ += static_cast<uint64_t>(got);
        left_ -= static_cast<uint64_t>(got);
        return got;
    }
    int error() const override { return error_; }
    // Moves over the parts not read (after a failure), so that the next header follows.
    int skipRest()
    {
        while (part_.splitAfter) {
            const int r = next_(part_);
            if (r != ERAR_SUCCESS)
                return r;
        }
        return ERAR_SUCCESS;
    }

private:
    const VolumeFile& file_;
    NextPart next_;
    Entry& part_;
    uint64_t offset_;
    uint64_t left_;
    bool checkDictionary_;
    int error_ = 0;
};

// Starts the pipeline for one entry: the application is told of the data
// when `notify` and it listens; `out`, when given, receives it.
void beginOutput(decode::OutputPipeline& pipeline, const Callbacks& callbacks, OutputFile* out, bool notify,
                 bool blake2)
{
    decode::OutputPipeline::Notifier notifier;
    if (notify && (callbacks.callback || callbacks.processDataProc))
        notifier = [&callbacks](const uint8_t* d, size_t n) { return callbacks.processData(d, n); };
    decode::OutputPipeline::Writer write;
    if (out)
        write = [out](const uint8_t* d, size_t n) { return out->write(d, n) ? int(ERAR_SUCCESS) : int(ERAR_EWRITE); };
    pipeline.begin(std::move(notifier), std::move(write), blake2);
}

} // namespace

bool Archive::decodesOwn(const Entry& e) const
{
    return main_.version == RarVersion::Rar5 && !e.stored() && !e.directory;
}

int Archive::decodeOwn(const Entry& e, OutputFile* out, uint32_t& crc, uint64_t& total, Entry& lastPart)
{
    currentDecoded_ = true;
    lastPart = e;
    PartSource source(
        file_, [this](Entry& p) { return nextPart(p); }, lastPart);
    // Only the RAR 5.0 algorithm is known here; methods 6 and 7 do not exist.
    if (e.unpVer != 50 || e.method > 0x35) {
        if (rar5_)
            rar5_->invalidate();
        const int r = source.skipRest();
        return r != ERAR_SUCCESS ? r : ERAR_UNKNOWN_FORMAT;
    }
    if (!rar5_)
        rar5_ = std::make_unique<decode::Rar5Decoder>();
    if (!pipeline_)
        pipeline_ = std::make_unique<decode::OutputPipeline>();

    decode::Rar5Entry job;
    job.unpackedSize = e.unpSize;
    job.sizeKnown = e.unpSizeKnown;
    job.dictionarySize = uint64_t(e.dictKB) * 1024;
    job.solid = e.solid;
    // Above our own limit the application decides, as it is asked by the genuine library.
    job.largeDictionary = job.dictionarySize > decode::Rar5Decoder::kMaxDictionary &&
                          callbacks_.allowLargeDictionary(e.dictKB, decode::Rar5Decoder::kMaxDictionary / 1024);
    // Encrypted data is padded to whole AES blocks after the last block.
    job.trailingPadding = cipher_ ? 15 : 0;

    beginOutput(*pipeline_, callbacks_, out, true, e.hashType == RAR_HASH_BLAKE2);
    std::optional<crypt::DecryptingSource> decrypted;
    if (cipher_)
        decrypted.emplace(source, *cipher_);
    decode::PackedSource& input = decrypted ? static_cast<decode::PackedSource&>(*decrypted) : source;
    int result = rar5_->decode(job, input, *pipeline_);
    if (result == ERAR_SUCCESS) {
        result = pipeline_->finish();
    } else {
        // A cancel or write failure stopped the decoder: report that, not the stop.
        const int outputFailure = pipeline_->abandon();
        if (outputFailure != ERAR_SUCCESS)
            result = outputFailure;
        const int r = source.skipRest();
        if (result == ERAR_SUCCESS)
            result = r;
    }
    crc = pipeline_->crc32();
    total = pipeline_->total();
    if (result == ERAR_SUCCESS && lastPart.hashType == RAR_HASH_BLAKE2 &&
        !digestMatches(pipeline_->blake2sp(), lastPart.hash))
        result = ERAR_BAD_DATA;
    return result;
}

int Archive::decodeRar29(OutputFile* out, bool notify, uint32_t& crc, uint64_t& total, Entry& lastPart)
{
    rar29Owed_ = false;
    const Entry& e = *current_;
    lastPart = e;
    PartSource source(
        file_, [this](Entry& p) { return nextPart(p); }, lastPart, false);
    if (!rar29_)
        rar29_ = std::make_unique<rar29::Decoder>();
    // Smaller blocks than for RAR 5.0 data: the hand-over then stays in the
    // cache beside the 4 MiB window (a RAR 4.x archive never reaches the
    // RAR 5.0 decoder, so the pipeline is this decoder's alone).
    if (!pipeline_)
        pipeline_ = std::make_unique<decode::OutputPipeline>(size_t(256) << 10, 4);

    beginOutput(*pipeline_, callbacks_, out, notify, false);

    rar29::FileRequest request;
    request.continues = e.solid;
    request.untilEndMarker = (main_.archiveFlags & ROADF_SOLID) != 0;
    request.sizeKnown = e.unpSizeKnown;
    request.size = e.unpSize;
    std::optional<crypt::DecryptingSource> decrypted;
    if (cipher_)
        decrypted.emplace(source, *cipher_);
    decode::PackedSource& input = decrypted ? static_cast<decode::PackedSource&>(*decrypted) : source;
    const rar29::DecodeStatus status = rar29_->decodeFile(request, input, *pipeline_);
    // A cancel or write failure stopped the decoder: report that, not the stop.
    const int outputResult = status == rar29::DecodeStatus::Ok ? pipeline_->finish() : pipeline_->abandon();
    crc = pipeline_->crc32();
    total = pipeline_->total();
    // The decoder may stop before the last part (the size was reached).
    const int partsResult = input.error() ? input.error() : source.skipRest();
    if (partsResult != ERAR_SUCCESS)
        return partsResult;
    if (outputResult != ERAR_SUCCESS)
        return outputResult;
    return rar29ResultCode(status);
}

int Archive::decodeSkipped()
{
    const Entry& e = *current_;
    if (request_.mode != RAR_OM_EXTRACT || !(flags_ & ROADF_SOLID) || e.splitBefore || !decodesOwn(e) ||
        currentDecoded_)
        return ERAR_SUCCESS;
    uint32_t crc = 0;
    uint64_t total = 0;
    Entry last;
    // The next entries need this one decoded, so the password is asked for
    // here too; without it the stream cannot go on.
    if (e.crypt.kind != EntryCrypt::Kind::None) {
        const int r = prepareDecryption(e, true);
        if (r != ERAR_SUCCESS) {
            if (rar5_)
                rar5_->invalidate();
            return r == ERAR_MISSING_PASSWORD ? r : ERAR_SUCCESS;
        }
    }
    const int r = decodeOwn(e, nullptr, crc, total, last);
    dropDecryption();
    return r;
}

int Archive::readStoredEncrypted(OutputFile* out, uint32_t& crc, uint64_t& total, Entry& lastPart)
{
    const Entry& e = *current_;
    lastPart = e;
    PartSource source(
        file_, [this](Entry& p) { return nextPart(p); }, lastPart, false);
    crypt::DecryptingSource input(source, *cipher_);
    // Checking and writing go to the pipeline's thread while this one reads
    // and decrypts: decryption then costs next to nothing in time.
    if (!pipeline_)
        pipeline_ = main_.version == RarVersion::Rar4 ? std::make_unique<decode::OutputPipeline>(size_t(256) << 10, 4)
                                                      : std::make_unique<decode::OutputPipeline>();
    const bool blake2 = e.hashType == RAR_HASH_BLAKE2;
    beginOutput(*pipeline_, callbacks_, out, true, blake2);
    const size_t need = static_cast<size_t>(std::min<uint64_t>(e.packSize, kStoredBlock));
    if (buffer_.size() < std::max<size_t>(need, 16))
        buffer_.resize(std::max<size_t>(need, 16));
    // The plaintext is the entry's bytes and then padding to a whole block.
    uint64_t left = e.unpSize;
    int result = ERAR_SUCCESS;
    for (;;) {
        const long long got = input.read(buffer_.data(), buffer_.size());
        if (got < 0) {
            result = input.error() ? input.error() : ERAR_BAD_DATA;
            break;
        }
        if (got == 0)
            break;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(got), left));
        left -= n;
        if (n > 0 && !pipeline_->append(buffer_.data(), n))
            break; // the output failed; abandon() says how
    }
    if (result == ERAR_SUCCESS && left == 0) {
        result = pipeline_->finish();
    } else {
        const int outputFailure = pipeline_->abandon();
        if (outputFailure != ERAR_SUCCESS)
            result = outputFailure;
        else if (result == ERAR_SUCCESS)
            result = ERAR_BAD_DATA; // fewer bytes than the entry's size
    }
    crc = pipeline_->crc32();
    total = pipeline_->total();
    if (result == ERAR_SUCCESS && blake2 && !digestMatches(pipeline_->blake2sp(), lastPart.hash))
        result = ERAR_BAD_DATA;
    if (result != ERAR_SUCCESS) {
        const int r = source.skipRest();
        return r != ERAR_SUCCESS && result == ERAR_BAD_DATA ? r : result;
    }
    return ERAR_SUCCESS;
}

} // namespace unrar
