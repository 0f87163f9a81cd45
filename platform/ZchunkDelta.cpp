#include "ZchunkDelta.h"
#include "FileOps.h"
#include "HttpRanges.h"
#include "StagedFile.h"

// zck.h declares C functions without saying so.
extern "C" {
#include <zck.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace platform {

namespace {

struct ZckFree {
    void operator()(zckCtx* zck) const { zck_free(&zck); }
};
using Zck = std::unique_ptr<zckCtx, ZckFree>;

struct RangeFree {
    void operator()(zckRange* range) const { zck_range_free(&range); }
};

struct CharFree {
    void operator()(char* text) const { std::free(text); }
};

// A file opened for reading, closed on the way out.
class ReadFd {
public:
    explicit ReadFd(const std::string& path)
    {
#ifdef _WIN32
        fd_ = ::_open(path.c_str(), _O_RDONLY | _O_BINARY);
#else
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
#endif
    }
    ~ReadFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ReadFd(const ReadFd&) = delete;
    ReadFd& operator=(const ReadFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

std::string zckError(zckCtx* zck)
{
    const char* text = zck ? zck_get_error(zck) : nullptr;
    std::string line = text && *text ? text : "zchunk error";
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    return line;
}

bool seekTo(int fd, std::uint64_t offset)
{
#ifdef _WIN32
    return ::_lseeki64(fd, static_cast<__int64>(offset), SEEK_SET) >= 0;
#else
    return ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0;
#endif
}

// Writes at `offset`; libzck reads the same descriptor, so where it stands is
// set again before each of its reads.
void writeAt(int fd, std::uint64_t offset, const char* data, std::size_t size)
{
    if (!seekTo(fd, offset))
        throw std::runtime_error("cannot seek in the new .zck");
    while (size > 0) {
        const auto written = ::write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
        if (written <= 0)
            throw std::runtime_error(std::string("cannot write the new .zck: ") +
                                     std::strerror(written < 0 ? errno : ENOSPC));
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

// "FIRST-LAST,FIRST-LAST" as libzck writes a missing range.
std::optional<std::vector<ByteRange>> parsedRanges(std::string_view text)
{
    if (text.rfind("bytes=", 0) == 0)
        text.remove_prefix(6);
    std::vector<ByteRange> ranges;
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
        const std::size_t dash = item.find('-');
        if (dash == std::string_view::npos)
            return std::nullopt;
        const std::string first(item.substr(0, dash));
        const std::string last(item.substr(dash + 1));
        char* end = nullptr;
        const unsigned long long a = std::strtoull(first.c_str(), &end, 10);
        if (first.empty() || *end)
            return std::nullopt;
        const unsigned long long b = std::strtoull(last.c_str(), &end, 10);
        if (last.empty() || *end || b < a)
            return std::nullopt;
        ranges.push_back({a, b});
    }
    return ranges;
}

// Writes the pieces into the new .zck and counts them for the progress.
class ZckPieces : public RangePieceSink {
public:
    ZckPieces(int fd, const ZchunkDeltaRequest& request, std::uint64_t& fetched, std::uint64_t total)
        : fd_(fd), request_(request), fetched_(fetched), total_(total)
    {}

    bool piece(std::uint64_t offset, const char* data, std::size_t size) override
    {
        writeAt(fd_, offset, data, size);
        fetched_ += size;
        return wanted();
    }
    bool stillWanted() override { return wanted(); }

    bool cancelled = false;

private:
    bool wanted()
    {
        cancelled = request_.progress && !request_.progress(fetched_, total_);
        return !cancelled;
    }

    int fd_;
    const ZchunkDeltaRequest& request_;
    std::uint64_t& fetched_;
    std::uint64_t total_;
};

class DeltaFetch {
public:
    DeltaFetch(HttpClient& client, const ZchunkDeltaRequest& request) : client_(client), request_(request) {}

    ZchunkDeltaResult run()
    {
        try {
            fetch();
        } catch (const std::exception& error) {
            end(ZchunkDeltaOutcome::Failed, error.what());
        }
        if (result_.outcome == ZchunkDeltaOutcome::Rebuilt && result_.archiveBytes > result_.bytesFetched)
            result_.bytesSaved = result_.archiveBytes - result_.bytesFetched;
        return result_;
    }

private:
    void end(ZchunkDeltaOutcome outcome, std::string reason)
    {
        result_.outcome = outcome;
        result_.reason = std::move(reason);
    }

    void fetch()
    {
        // The kept .zck first: without it nothing is fetched at all.
        if (!isExistingFile(request_.keptZck))
            return end(ZchunkDeltaOutcome::NotWorthIt, "no .zck of the previous release is kept");
        const ReadFd keptFd(request_.keptZck);
        Zck kept(zck_create());
        if (keptFd.get() < 0 || !kept || !zck_init_read(kept.get(), keptFd.get()))
            return end(ZchunkDeltaOutcome::NotWorthIt,
                       "the kept " + request_.keptZck + " is unreadable: " + zckError(kept.get()));

        StagedFile newZck(request_.newZck, true);
        const int fd = ::fileno(newZck.stream());
        Zck target(zck_create());
        if (!target || !zck_init_adv_read(target.get(), fd))
            return end(ZchunkDeltaOutcome::Failed, zckError(target.get()));
        if (!fetchHeader(target.get(), fd))
            return;

        if (!zck_copy_chunks(kept.get(), target.get()))
            return end(ZchunkDeltaOutcome::Failed, "copying the kept chunks: " + zckError(target.get()));
        const std::optional<std::vector<ByteRange>> missing = missingRanges(target.get());
        if (!missing)
            return;
        for (const ByteRange& range : *missing)
            result_.missingBytes += range.size();
        const std::uint64_t total = result_.bytesFetched + result_.missingBytes;
        if (total * 100 > result_.archiveBytes * request_.maxMissingPercent)
            return end(ZchunkDeltaOutcome::NotWorthIt, std::to_string(result_.missingBytes) +
                                                           " bytes of the new release are not in the kept .zck, over " +
                                                           std::to_string(request_.maxMissingPercent) + "% of its " +
                                                           std::to_string(result_.archiveBytes) +
                                                           ": the whole archive is cheaper");

        if (!missing->empty()) {
            ZckPieces pieces(fd, request_, result_.bytesFetched, total);
            const RangeFetchResult got =
                fetchRanges(client_, request_.http, *missing, pieces, request_.rangesPerRequest);
            if (pieces.cancelled)
                return end(ZchunkDeltaOutcome::Cancelled, "cancelled");
            if (!got.complete)
                return end(ZchunkDeltaOutcome::Failed, "the missing chunks of " + request_.http.url + ": " + got.error);
        }
        if (!seekTo(fd, 0))
            return end(ZchunkDeltaOutcome::Failed, "cannot seek in the new .zck");
        const int valid = zck_validate_checksums(target.get());
        if (valid != 1) {
            const int failed = zck_failed_chunks(target.get());
            return end(ZchunkDeltaOutcome::Failed, valid < 0 ? std::to_string(std::max(failed, 1)) +
                                                                   " chunk(s) of the new .zck do not match their digest"
                                                             : "checking the new .zck: " + zckError(target.get()));
        }
        target.reset();
        kept.reset();
        if (!rebuild(fd))
            return;
        newZck.commit();
        result_.outcome = ZchunkDeltaOutcome::Rebuilt;
    }

    // Lead and header of the new .zck, the range grown once the lead tells
    // the header's length.
    bool fetchHeader(zckCtx* target, int fd)
    {
        const int lead = zck_get_min_download_size();
        if (lead <= 0 || !fetchInto(fd, {{0, static_cast<std::uint64_t>(lead) - 1}}, "its header"))
            return false;
        if (!seekTo(fd, 0) || !zck_read_lead(target)) {
            end(ZchunkDeltaOutcome::Failed, request_.http.url + " is not a zchunk file: " + zckError(target));
            return false;
        }
        const ssize_t headerLength = zck_get_header_length(target);
        if (headerLength > lead &&
            !fetchInto(fd, {{static_cast<std::uint64_t>(lead), static_cast<std::uint64_t>(headerLength) - 1}},
                       "its header"))
            return false;
        const ssize_t leadLength = zck_get_lead_length(target);
        if (leadLength <= 0 || !seekTo(fd, static_cast<std::uint64_t>(leadLength)) || !zck_read_header(target)) {
            end(ZchunkDeltaOutcome::Failed, "the header of " + request_.http.url + ": " + zckError(target));
            return false;
        }
        // The dictionary (chunk 0) is no part of the archive.
        for (zckChunk* chunk = zck_get_first_chunk(target); chunk; chunk = zck_get_next_chunk(chunk))
            if (zck_get_chunk_number(chunk) > 0)
                result_.archiveBytes += static_cast<std::uint64_t>(std::max<ssize_t>(zck_get_chunk_size(chunk), 0));
        return true;
    }

    bool fetchInto(int fd, const std::vector<ByteRange>& ranges, const char* what)
    {
        ZckPieces pieces(fd, request_, result_.bytesFetched, 0);
        const RangeFetchResult got = fetchRanges(client_, request_.http, ranges, pieces, 1);
        if (got.complete)
            return true;
        if (pieces.cancelled)
            end(ZchunkDeltaOutcome::Cancelled, "cancelled");
        else if (got.status == "404") {
            result_.notPublished = true;
            end(ZchunkDeltaOutcome::Failed, "no .zck is published: " + request_.http.url + " answered 404");
        } else
            end(ZchunkDeltaOutcome::Failed, std::string(what) + " from " + request_.http.url + ": " + got.error);
        return false;
    }

    // The byte ranges of the chunks the kept .zck did not have, adjacent
    // chunks joined, as libzck lists them.
    std::optional<std::vector<ByteRange>> missingRanges(zckCtx* target)
    {
        if (zck_missing_chunks(target) == 0)
            return std::vector<ByteRange>();
        std::unique_ptr<zckRange, RangeFree> range(zck_get_missing_range(target, -1));
        std::unique_ptr<char, CharFree> text(range ? zck_get_range_char(target, range.get()) : nullptr);
        std::optional<std::vector<ByteRange>> ranges = text ? parsedRanges(text.get()) : std::nullopt;
        if (!ranges)
            end(ZchunkDeltaOutcome::Failed, "the missing chunks: " + zckError(target));
        return ranges;
    }

    // Release.rar from the whole new .zck; libzck checks each chunk again
    // as it decompresses.
    bool rebuild(int fd)
    {
        Zck reader(zck_create());
        if (!seekTo(fd, 0) || !reader || !zck_init_read(reader.get(), fd)) {
            end(ZchunkDeltaOutcome::Failed, "reading the new .zck: " + zckError(reader.get()));
            return false;
        }
        StagedFile archive(request_.archive);
        std::vector<char> buffer(1 << 20);
        std::uint64_t written = 0;
        for (;;) {
            const ssize_t n = zck_read(reader.get(), buffer.data(), buffer.size());
            if (n < 0) {
                end(ZchunkDeltaOutcome::Failed, "decompressing the new .zck: " + zckError(reader.get()));
                return false;
            }
            if (n == 0)
                break;
            // Decompressing a large release takes a while: a cancel must not wait for it.
            if (request_.progress && !request_.progress(result_.bytesFetched, result_.bytesFetched)) {
                end(ZchunkDeltaOutcome::Cancelled, "cancelled");
                return false;
            }
            archive.write(buffer.data(), static_cast<std::size_t>(n));
            written += static_cast<std::uint64_t>(n);
        }
        if (written != result_.archiveBytes) {
            end(ZchunkDeltaOutcome::Failed, "the rebuilt archive has " + std::to_string(written) +
                                                " bytes, the header says " + std::to_string(result_.archiveBytes));
            return false;
        }
        archive.commit();
        return true;
    }

    HttpClient& client_;
    const ZchunkDeltaRequest& request_;
    ZchunkDeltaResult result_;
};

} // namespace

ZchunkDeltaResult fetchZchunkDelta(HttpClient& client, const ZchunkDeltaRequest& request)
{
    return DeltaFetch(client, request).run();
}

std::string makeZchunk(const std::string& archive, const std::string& zck, const std::atomic<bool>* stop)
{
    try {
        const ReadFd in(archive);
        if (in.get() < 0)
            return "cannot open " + archive + ": " + std::strerror(errno);
        StagedFile out(zck);
        Zck writer(zck_create());
        if (!writer || !zck_init_write(writer.get(), ::fileno(out.stream())))
            return "cannot make " + zck + ": " + zckError(writer.get());
        std::vector<char> buffer(1 << 20);
        for (;;) {
            if (stop && *stop)
                return "stopped";
            const auto n = ::read(in.get(), buffer.data(), static_cast<unsigned>(buffer.size()));
            if (n < 0)
                return "cannot read " + archive + ": " + std::strerror(errno);
            if (n == 0)
                break;
            if (zck_write(writer.get(), buffer.data(), static_cast<std::size_t>(n)) != n)
                return "cannot make " + zck + ": " + zckError(writer.get());
        }
        // The chunks are written only now.
        if (!zck_close(writer.get()))
            return "cannot make " + zck + ": " + zckError(writer.get());
        writer.reset();
        out.commit();
        return {};
    } catch (const std::exception& error) {
        return error.what();
    }
}

} // namespace platform
