#include "Fetch.h"

#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/StagedFile.h"
#include "platform/TextCodec.h"
#include "platform/UrlEncoding.h"

#include <filesystem>
#include <optional>

namespace {

// Statuses that deliver the archive. Redirects are followed by the client, so
// the status seen here is that of the final response, and a 302 is final only
// when the server sent it without a place to go; its body is then taken as
// the archive, and unpacking rejects it if it is none.
bool deliversArchive(const std::string& status) { return status == "200" || status == "302"; }

// Streams an accepted body into a temporary file beside the target.
class DownloadSink : public platform::HttpBodySink {
public:
    using Progress = std::function<bool(std::uint64_t, std::optional<std::uint64_t>)>;

    DownloadSink(const std::string& target, const DownloadLimits& limits, Progress progress)
        : target_(target), guard_(limits, platform::toPath(platform::absolutePath(target)).parent_path()),
          progress_(std::move(progress))
    {}

    bool begin(const std::string& status, std::optional<std::uint64_t> contentLength) override
    {
        // Nothing is created for a refused answer: an earlier archive stays.
        if (!deliversArchive(status))
            return false;
        stopReason = guard_.beforeBody(contentLength);
        if (!stopReason.empty())
            return false;
        file.emplace(target_);
        total_ = contentLength;
        return true;
    }

    bool write(const char* data, std::size_t size) override
    {
        file->write(data, size);
        done_ += size;
        stopReason = guard_.afterBlock(done_);
        if (!stopReason.empty())
            return false;
        cancelled = !progress_(done_, total_);
        return !cancelled;
    }

    bool stillWanted() override
    {
        cancelled = !progress_(done_, total_);
        return !cancelled;
    }

    std::optional<platform::StagedFile> file;
    bool cancelled = false;
    std::string stopReason; // why a limit stopped the download

private:
    std::string target_;
    DownloadGuard guard_;
    Progress progress_;
    std::uint64_t done_ = 0;
    std::optional<std::uint64_t> total_;
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

bool TFetch::progress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    return observer_ ? observer_->fetchProgress(done, total) : true;
}

void TFetch::failed(const std::string& reason)
{
    if (observer_)
        observer_->fetchFailed(reason);
}

bool TFetch::GetNetFile(const std::string& Src, const std::string& Dest)
{
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(platform::toPath(Src), ec);
    if (!std::filesystem::is_regular_file(status)) {
        messages_.error(notAFileText(Src, status, ec));
        return false;
    }
    // A copy is bound as a download is, before the first byte: a large file
    // must not fill the disk the archive goes to.
    const DownloadGuard guard(limits_, platform::toPath(platform::absolutePath(Dest)).parent_path());
    const std::uint64_t size = std::filesystem::file_size(platform::toPath(Src), ec);
    const std::string stopReason = ec ? std::string() : guard.beforeBody(size);
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

bool TFetch::GetInetFile(const std::string& fileURL, const std::string& FileName)
{
    const std::string scheme = platform::urlScheme(fileURL);
    if (!scheme.empty() && scheme != "http" && scheme != "https") {
        messages_.error(u"Адрес файла обновления " + platform::ansiToUtf16(fileURL) +
                        u" не является адресом HTTP: при DOUPDATE=1 в таблице TAVREL_PARAMS обновление "
                        u"загружается только по http:// или https://. Чтобы скопировать файл, укажите в "
                        u"NEWVERSIONPASS путь к нему и DOUPDATE=0.");
        failed("not an HTTP location: " + fileURL);
        return false;
    }
    DownloadSink sink(FileName, limits_,
                      [this](std::uint64_t done, std::optional<std::uint64_t> total) { return progress(done, total); });
    const std::string agent = platform::fromPath(platform::executablePath().filename());
    // Blanks and non-ASCII letters as typed are escaped; what still is no URL is named.
    const std::string url = platform::encodeUrl(platform::toUtf8(platform::ansiToUtf16(fileURL)));
    const platform::HttpResult result = http_.get(url, agent, sink);
    if (result.malformedUrl) {
        messages_.error(u"Неверный адрес файла обновления: " + platform::ansiToUtf16(fileURL));
        failed("not a URL: " + fileURL + ": " + result.error);
        return false;
    }

    if (!deliversArchive(result.status)) {
        failed(result.status.empty() ? "no answer from " + fileURL + ": " + result.error
                                     : "HTTP status " + result.status + " from " + fileURL);
        return false;
    }
    // A body that broke off is no archive; the partial download is dropped
    // with the temporary file and an earlier archive stays as it was.
    if (!result.bodyComplete || !sink.file) {
        failed("download of " + fileURL +
               (!sink.stopReason.empty() ? " stopped: " + sink.stopReason
                : sink.cancelled         ? " cancelled"
                                         : " failed: " + result.error));
        return false;
    }
    sink.file->commit();
    return true;
}
