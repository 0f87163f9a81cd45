#include "HttpRanges.h"
#include "HttpHeadFields.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>

namespace platform {

namespace {

// Part heads are a few lines; more than this is not a byteranges answer.
constexpr std::size_t kMaxPartHead = 16 * 1024;

std::string lowered(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The boundary of "multipart/byteranges; boundary=..."; empty for any other type.
std::string byterangesBoundary(std::string_view contentType)
{
    const std::string lower = lowered(contentType);
    if (lower.rfind("multipart/byteranges", 0) != 0)
        return {};
    const std::size_t at = lower.find("boundary=");
    if (at == std::string::npos)
        return {};
    std::string_view value = contentType.substr(at + 9);
    value = value.substr(0, value.find(';'));
    value = trimmedField(value);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return std::string(value);
}

// "bytes FIRST-LAST/LENGTH" (or ".../*") of a part.
std::optional<ByteRange> partRange(std::string_view value)
{
    value = trimmedField(value);
    if (lowered(value.substr(0, 6)) != "bytes ")
        return std::nullopt;
    value = value.substr(6);
    const std::size_t dash = value.find('-');
    const std::size_t slash = value.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return std::nullopt;
    const auto first = decimalNumber(trimmedField(value.substr(0, dash)));
    const auto last = decimalNumber(trimmedField(value.substr(dash + 1, slash - dash - 1)));
    if (!first || !last || *last < *first)
        return std::nullopt;
    return ByteRange{*first, *last};
}

// Reads the answer to one request for `asked` and hands the bytes within
// them to the piece sink, counting how many of each arrived.
class RangesBody : public HttpBodySink {
public:
    RangesBody(const std::vector<ByteRange>& asked, RangePieceSink& out)
        : asked_(asked), covered_(asked.size(), 0), out_(out)
    {}

    bool begin(const HttpResponseHead& head) override
    {
        if (head.status == "200") {
            refused = true;
            return false;
        }
        if (head.status != "206")
            return false;
        boundary_ = byterangesBoundary(head.contentType);
        if (!boundary_.empty()) {
            delimiter_ = "--" + boundary_;
            inPart_ = false;
            return true;
        }
        if (!head.rangeStart)
            return fail("a 206 answer without Content-Range");
        inPart_ = true;
        single_ = true;
        offset_ = *head.rangeStart;
        return true;
    }

    bool write(const char* data, std::size_t size) override
    {
        bodyBytes += size;
        if (single_) {
            const bool wanted = deliver(data, size);
            offset_ += size;
            return wanted;
        }
        while (size > 0) {
            if (inPart_) {
                const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, size));
                if (!deliver(data, n))
                    return false;
                offset_ += n;
                remaining_ -= n;
                data += n;
                size -= n;
                inPart_ = remaining_ > 0;
                continue;
            }
            if (ended_)
                return true; // the epilogue
            const std::size_t before = head_.size();
            head_.append(data, std::min<std::size_t>(size, kMaxPartHead));
            const std::size_t used = partHead();
            if (!error.empty())
                return false;
            if (used == std::string::npos) {
                if (head_.size() >= kMaxPartHead)
                    return fail("a part head of a multipart answer longer than " + std::to_string(kMaxPartHead) +
                                " bytes");
                const std::size_t taken = head_.size() - before;
                data += taken;
                size -= taken;
                continue;
            }
            // What followed the part head in this block is data of the part.
            const std::size_t taken = used - before;
            head_.clear();
            data += taken;
            size -= taken;
        }
        return true;
    }

    bool stillWanted() override { return out_.stillWanted(); }

    bool complete() const
    {
        for (std::size_t i = 0; i < asked_.size(); ++i)
            if (covered_[i] < asked_[i].size())
                return false;
        return true;
    }

    bool refused = false;       // 200: the whole body instead
    bool stoppedBySink = false; // the piece sink wanted no more
    std::string error;          // an answer that cannot be read
    std::uint64_t bodyBytes = 0;

private:
    bool fail(std::string why)
    {
        error = std::move(why);
        return false;
    }

    // Reads the part head in head_: the bytes of head_ it took up to the
    // part's first data byte, or npos while it is not whole yet.
    std::size_t partHead()
    {
        const std::size_t at = head_.find(delimiter_);
        if (at == std::string::npos)
            return std::string::npos;
        const std::size_t after = at + delimiter_.size();
        if (head_.size() < after + 2)
            return std::string::npos;
        if (head_.compare(after, 2, "--") == 0) {
            ended_ = true;
            return head_.size();
        }
        const std::size_t end = head_.find("\r\n\r\n", after);
        if (end == std::string::npos)
            return std::string::npos;
        std::optional<ByteRange> range;
        std::string_view lines(head_.data() + after, end - after);
        while (!lines.empty()) {
            const std::size_t eol = lines.find("\r\n");
            const std::string_view line = lines.substr(0, eol);
            lines = eol == std::string_view::npos ? std::string_view() : lines.substr(eol + 2);
            const std::size_t colon = line.find(':');
            if (colon != std::string_view::npos && lowered(trimmedField(line.substr(0, colon))) == "content-range")
                range = partRange(line.substr(colon + 1));
        }
        if (!range) {
            fail("a part of a multipart answer without a readable Content-Range");
            return std::string::npos;
        }
        offset_ = range->first;
        remaining_ = range->size();
        inPart_ = true;
        return end + 4;
    }

    // Passes on the bytes at offset_ that lie within the ranges asked for.
    bool deliver(const char* data, std::size_t size)
    {
        const std::uint64_t end = offset_ + size;
        for (std::size_t i = 0; i < asked_.size(); ++i) {
            const std::uint64_t from = std::max(offset_, asked_[i].first);
            const std::uint64_t to = std::min(end, asked_[i].last + 1);
            if (from >= to)
                continue;
            covered_[i] += to - from;
            if (!out_.piece(from, data + (from - offset_), static_cast<std::size_t>(to - from))) {
                stoppedBySink = true;
                return false;
            }
        }
        return true;
    }

    const std::vector<ByteRange>& asked_;
    std::vector<std::uint64_t> covered_;
    RangePieceSink& out_;
    std::string boundary_;
    std::string delimiter_;
    bool single_ = false;
    bool inPart_ = false;
    bool ended_ = false;
    std::string head_;            // a part head read so far
    std::uint64_t offset_ = 0;    // of the next data byte in the resource
    std::uint64_t remaining_ = 0; // data bytes of the current part
};

} // namespace

std::string rangeSpec(const std::vector<ByteRange>& ranges)
{
    std::string spec;
    for (const ByteRange& range : ranges) {
        if (!spec.empty())
            spec += ',';
        spec += std::to_string(range.first) + "-" + std::to_string(range.last);
    }
    return spec;
}

RangeFetchResult fetchRanges(HttpClient& client, const HttpRequest& request, const std::vector<ByteRange>& ranges,
                             RangePieceSink& sink, std::size_t perRequest)
{
    RangeFetchResult result;
    std::size_t per = std::max<std::size_t>(perRequest, 1);
    std::size_t at = 0;
    while (at < ranges.size()) {
        const std::size_t count = std::min(per, ranges.size() - at);
        HttpRequest asking = request;
        asking.rangeFrom = 0;
        asking.ifRange.clear();
        asking.ranges.assign(ranges.begin() + static_cast<std::ptrdiff_t>(at),
                             ranges.begin() + static_cast<std::ptrdiff_t>(at + count));
        RangesBody body(asking.ranges, sink);
        const HttpResult got = client.get(asking, body);
        ++result.requests;
        result.bodyBytes += body.bodyBytes;
        result.status = got.status;
        if (body.refused && count > 1) {
            // Perhaps only several ranges at once are refused.
            per = 1;
            continue;
        }
        if (body.refused) {
            result.rangesRefused = true;
            result.error = "the server answered a range request with the whole file (200): it serves no ranges";
            return result;
        }
        if (body.stoppedBySink) {
            result.error = "stopped by its receiver";
            return result;
        }
        if (!body.error.empty()) {
            result.error = body.error;
            return result;
        }
        if (got.status != "206") {
            result.error = got.status.empty() ? got.error : "the server answered " + got.status;
            return result;
        }
        if (!body.complete()) {
            result.error = got.error.empty() ? "the server's answer lacks bytes of the ranges asked for" : got.error;
            return result;
        }
        at += count;
    }
    result.complete = true;
    return result;
}

} // namespace platform
