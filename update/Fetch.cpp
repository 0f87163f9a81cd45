#include "Fetch.h"

#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/StagedFile.h"
#include "platform/TextCodec.h"
#include "platform/UrlEncoding.h"
#include "update/PartialDownload.h"
#include "update/UpdateSetup.h"

#include <chrono>
#include <filesystem>
#include <optional>

namespace {

// Statuses that deliver the archive. Redirects are followed by the client, so
// the status seen here is that of the final response, and a 302 is final only
// when the server sent it without a place to go; its body is then taken as
// the archive, and unpacking rejects it if it is none.
bool deliversArchive(const std::string& status) { return status == "200" || status == "302"; }

// Streams an accepted body into its file: a temporary file beside the target,
// or the kept part of a resumable download.
class DownloadSink : public platform::HttpBodySink {
public:
    using Progress = std::function<bool(std::uint64_t, std::optional<std::uint64_t>)>;

    DownloadSink(const std::string& target, const DownloadLimits& limits, const std::filesystem::path& folder,
                 Progress progress)
        : target_(target), guard_(limits, folder), progress_(std::move(progress))
    {}

    // Writes into `partial`, going on after `resumeFrom` bytes when the server sends that range.
    void resumable(PartialDownload& partial, const std::string& url, std::uint64_t resumeFrom)
    {
        partial_ = &partial;
        url_ = url;
        resumeFrom_ = resumeFrom;
    }
    void headOnly() { headOnly_ = true; }

    bool begin(const platform::HttpResponseHead& head) override
    {
        this->head = head;
        const bool resumed = head.status == "206" && resumeFrom_ > 0 && head.rangeStart == resumeFrom_;
        // Nothing is created for a refused answer: an earlier archive stays.
        if (!resumed && !deliversArchive(head.status))
            return false;
        if (headOnly_)
            return false;
        offset_ = resumed ? resumeFrom_ : 0;
        total_ = resumed ? head.completeLength : head.contentLength;
        stopReason = guard_.beforeBody(total_, offset_);
        if (!stopReason.empty())
            return false;
        if (partial_ && resumed)
            partial_->append();
        else if (partial_)
            partial_->start(url_, head.etag, head.lastModified);
        else
            file.emplace(target_);
        accepted = true;
        return true;
    }

    bool write(const char* data, std::size_t size) override
    {
        partial_ ? partial_->write(data, size) : file->write(data, size);
        received_ += size;
        if (stopped(guard_.afterBlock(offset_ + received_)))
            return false;
        cancelled = !progress_(offset_ + received_, total_);
        return !cancelled;
    }

    bool stillWanted() override
    {
        if (!stopReason.empty() || stopped(guard_.onTick(received_)))
            return false;
        cancelled = !progress_(offset_ + received_, total_);
        return !cancelled;
    }

    // Keeps the first reason a limit gave; true when there is one.
    bool stopped(std::string reason)
    {
        if (stopReason.empty())
            stopReason = std::move(reason);
        return !stopReason.empty();
    }

    // The whole release is in its file.
    bool whole() const { return accepted && (!total_ || offset_ + received_ == *total_); }

    platform::HttpResponseHead head;
    std::optional<platform::StagedFile> file;
    bool accepted = false;
    bool cancelled = false;
    std::string stopReason; // why a limit stopped the download

private:
    std::string target_;
    DownloadGuard guard_;
    Progress progress_;
    PartialDownload* partial_ = nullptr;
    std::string url_;
    std::uint64_t resumeFrom_ = 0;
    bool headOnly_ = false;
    std::uint64_t offset_ = 0;   // bytes kept from an earlier run
    std::uint64_t received_ = 0; // bytes of this run
    std::optional<std::uint64_t> total_;
};

// Keeps a small body in memory, refusing one larger than its limit; a slow
// server or a cancel stops it as they stop a download.
class MemorySink : public platform::HttpBodySink {
public:
    using Progress = std::function<bool(std::uint64_t, std::optional<std::uint64_t>)>;

    MemorySink(std::size_t limit, const DownloadLimits& limits, Progress progress)
        : limit_(limit), guard_(limits, {}), progress_(std::move(progress))
    {}

    bool begin(const platform::HttpResponseHead& head) override
    {
        tooLarge = head.contentLength && *head.contentLength > limit_;
        return deliversArchive(head.status) && !tooLarge;
    }
    bool write(const char* data, std::size_t size) override
    {
        tooLarge = body.size() + size > limit_;
        if (!tooLarge)
            body.append(data, size);
        return !tooLarge && stillWanted();
    }
    bool stillWanted() override
    {
        if (stopReason.empty())
            stopReason = guard_.onTick(body.size());
        return stopReason.empty() && progress_(body.size(), std::nullopt);
    }

    std::string body;
    bool tooLarge = false;
    std::string stopReason;

private:
    std::size_t limit_;
    DownloadGuard guard_;
    Progress progress_;
};

// Why the copy's source is no file to copy, naming what lies there: a folder
// or a pipe must not be reported as missing.
std::u16string notAFileText(const std::string& source, const std::filesystem::file_status& status,
                            const std::error_code& ec)
{
    const std::u16string shown = platform::ansiToUtf16(source);
    if (std::filesystem::is_directory(status))
        return u"По пути обновления " + shown + u" находится папка, а не файл архива!";
    if (std::filesystem::exists(status))
        return u"По пути обновления " + shown + u" находится не обычный файл (канал, устройство или сокет)!";
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory)
        return u"Файл обновления " + shown + u" недоступен: " + platform::toUtf16(ec.message());
    return u"Файл обновления по указанному пути не найден!";
}

} // namespace

SourceIdentity copiedFileIdentity(const std::filesystem::path& file)
{
    SourceIdentity identity;
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec)
        return identity;
    identity.size = size;
    const auto modified = std::filesystem::last_write_time(file, ec);
    if (!ec)
        identity.modified = std::chrono::duration_cast<std::chrono::nanoseconds>(modified.time_since_epoch()).count();
    return identity;
}

bool TFetch::progress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    return observer_ ? observer_->fetchProgress(done, total) : true;
}

void TFetch::failed(const std::string& reason)
{
    if (observer_)
        observer_->fetchFailed(reason);
}

bool TFetch::copyableSource(const std::string& Src)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(platform::toPath(Src), ec);
    if (std::filesystem::is_regular_file(status))
        return true;
    messages_.error(notAFileText(Src, status, ec));
    failed("no file to copy at " + Src);
    return false;
}

bool TFetch::GetNetFile(const std::string& Src, const std::string& Dest)
{
    identity_ = {};
    std::error_code ec;
    const std::filesystem::path source = platform::toPath(Src);
    if (!copyableSource(Src))
        return false;
    // A copy is bound as a download is, before the first byte: a large file
    // must not fill the disk the archive goes to.
    const DownloadGuard guard(limits_, platform::toPath(platform::absolutePath(Dest)).parent_path());
    identity_ = copiedFileIdentity(source);
    const std::string stopReason = identity_.size ? guard.beforeBody(*identity_.size) : std::string();
    if (!stopReason.empty()) {
        failed("copy of " + Src + " stopped: " + stopReason);
        return false;
    }
    const bool copied = platform::copyFileReplacing(
        Src, Dest, [this](std::uint64_t done, std::uint64_t total) { return progress(done, total); }, ec);
    if (!copied)
        failed("cannot copy " + Src + " to " + Dest + ": " + ec.message());
    return copied;
}

std::string TFetch::requestUrl(const std::string& fileURL)
{
    return platform::encodeUrl(platform::toUtf8(platform::ansiToUtf16(fileURL)));
}

bool TFetch::GetInetFile(const std::string& fileURL, const std::string& FileName, bool pastCaches)
{
    DownloadOptions options;
    options.pastCaches = pastCaches;
    return download(fileURL, FileName, options) == FetchResult::Fetched;
}

std::optional<std::string> TFetch::readSmallFile(const std::string& location, bool http, std::size_t limit)
{
    if (!http) {
        std::error_code ec;
        const std::uintmax_t size = std::filesystem::file_size(platform::toPath(location), ec);
        if (ec || size > limit) {
            failed(ec ? "cannot read " + location + ": " + ec.message() : location + " is larger than expected");
            return std::nullopt;
        }
        return platform::readWholeFile(location);
    }
    MemorySink sink(limit, limits_,
                    [this](std::uint64_t done, std::optional<std::uint64_t> total) { return progress(done, total); });
    const platform::HttpResult result = http_.get(requestFor(requestUrl(location), false), sink);
    if (deliversArchive(result.status) && result.bodyComplete && !sink.tooLarge && sink.stopReason.empty())
        return sink.body;
    failed(sink.tooLarge                ? location + " is larger than expected"
           : !sink.stopReason.empty()   ? "download of " + location + " stopped: " + sink.stopReason
           : result.status.empty()      ? "no answer from " + location + ": " + result.error
           : deliversArchive(result.status) ? "download of " + location + " failed: " + result.error
                                        : "HTTP status " + result.status + " from " + location);
    return std::nullopt;
}

bool TFetch::askSource(const std::string& source, bool http)
{
    if (!http)
        return copyableSource(source);
    DownloadOptions options;
    options.headOnly = true;
    return download(source, kLocalArchiveName, options) == FetchResult::Fetched;
}

platform::HttpRequest TFetch::requestFor(const std::string& url, bool pastCaches) const
{
    platform::HttpRequest request;
    request.url = url;
    request.userAgent = platform::fromPath(platform::executablePath().filename());
    request.proxy = proxy_;
    request.pastCaches = pastCaches;
    request.maxReceiveBytesPerSecond = limits_.maxBytesPerSecond;
    return request;
}

FetchResult TFetch::download(const std::string& fileURL, const std::string& FileName, const DownloadOptions& options)
{
    identity_ = {};
    const std::string scheme = platform::urlScheme(fileURL);
    if (!scheme.empty() && scheme != "http" && scheme != "https") {
        messages_.error(u"Адрес файла обновления " + platform::ansiToUtf16(fileURL) +
                        u" не является адресом HTTP: при DOUPDATE=1 в таблице TAVREL_PARAMS обновление "
                        u"загружается только по http:// или https://. Чтобы скопировать файл, укажите в "
                        u"NEWVERSIONPASS путь к нему и DOUPDATE=0.");
        failed("not an HTTP location: " + fileURL);
        return FetchResult::Failed;
    }
    // What still is no URL once escaped is named by the request.
    const std::string url = requestUrl(fileURL);
    // A server that refuses the range of a kept part (416) gets one more
    // request for the whole release.
    std::optional<FetchResult> result = request(fileURL, url, FileName, options, true);
    if (!result)
        result = request(fileURL, url, FileName, options, false);
    return result.value_or(FetchResult::Failed);
}

std::optional<FetchResult> TFetch::request(const std::string& fileURL, const std::string& url,
                                           const std::string& FileName, const DownloadOptions& options, bool resume)
{
    std::optional<PartialDownload> partial;
    if (options.resumeIn && !options.headOnly)
        partial.emplace(*options.resumeIn);
    const auto kept = partial && resume ? partial->resumableFor(url) : std::nullopt;
    if (partial && !resume)
        partial->discard();

    // The archive's space is counted where its bytes are written.
    const std::filesystem::path folder =
        partial ? options.resumeIn->root : platform::toPath(platform::absolutePath(FileName)).parent_path();
    DownloadSink sink(FileName, limits_, folder,
                      [this](std::uint64_t done, std::optional<std::uint64_t> total) { return progress(done, total); });
    if (partial)
        sink.resumable(*partial, url, kept ? kept->size : 0);
    if (options.headOnly)
        sink.headOnly();

    platform::HttpRequest request = requestFor(url, options.pastCaches);
    request.ifNoneMatch = options.ifNoneMatch;
    request.ifModifiedSince = options.ifModifiedSince;
    if (kept) {
        request.rangeFrom = kept->size;
        request.ifRange = kept->ifRange;
    }
    const platform::HttpResult result = http_.get(request, sink);
    identity_.etag = sink.head.etag;
    identity_.lastModified = sink.head.lastModified;
    if (result.malformedUrl) {
        messages_.error(u"Неверный адрес файла обновления: " + platform::ansiToUtf16(fileURL));
        failed("not a URL: " + fileURL + ": " + result.error);
        return FetchResult::Failed;
    }
    if (result.status == "304" && (!options.ifNoneMatch.empty() || !options.ifModifiedSince.empty())) {
        // The installed release is the published one; a kept part is of another.
        if (partial)
            partial->discard();
        return FetchResult::NotModified;
    }
    // The kept part does not fit the release (416), or the server sent
    // another range than asked for: once more, whole.
    if (kept && (result.status == "416" || (result.status == "206" && !sink.accepted && sink.stopReason.empty())))
        return std::nullopt;
    const bool delivered = deliversArchive(result.status) || (kept && result.status == "206");
    if (options.headOnly && delivered)
        return FetchResult::Fetched;
    if (!delivered) {
        // A limit that stopped the download before any answer is named as such.
        failed(!sink.stopReason.empty() ? "download of " + fileURL + " stopped: " + sink.stopReason
               : result.status.empty()  ? "no answer from " + fileURL + ": " + result.error
                                        : "HTTP status " + result.status + " from " + fileURL);
        return FetchResult::Failed;
    }
    // A body that broke off is no archive. A temporary file is dropped and an
    // earlier archive stays as it was; a resumable part is kept for the next run.
    if (!result.bodyComplete || !sink.whole()) {
        // Without a validator the next run could not tell a kept part's release.
        if (partial && sink.head.etag.empty() && sink.head.lastModified.empty())
            partial->discard();
        failed("download of " + fileURL +
               (!sink.stopReason.empty() ? " stopped: " + sink.stopReason
                : sink.cancelled         ? " cancelled"
                : !result.error.empty()  ? " failed: " + result.error
                                         : " failed: the body is not the whole release"));
        return FetchResult::Failed;
    }
    if (partial)
        partial->finish(FileName);
    else
        sink.file->commit();
    return FetchResult::Fetched;
}
