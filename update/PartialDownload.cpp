#include "PartialDownload.h"

#include "platform/FileOps.h"
#include "platform/SharedFolder.h"
#include "update/RecordFile.h"

#include <cerrno>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kKind = "tavrel partial download 1";

[[noreturn]] void throwErrno(const std::string& what)
{
    throw std::system_error(errno ? errno : EIO, std::generic_category(), what);
}

// A weak entity tag cannot ask for a range; a date can, as long as the
// server gave one.
std::string rangeValidator(const RecordFields& fields)
{
    const auto etag = fields.find("etag");
    if (etag != fields.end() && !etag->second.empty() && etag->second.rfind("W/", 0) != 0)
        return etag->second;
    const auto date = fields.find("last-modified");
    return date != fields.end() ? date->second : std::string();
}

} // namespace

std::optional<PartialDownload::Resumable> PartialDownload::resumableFor(const std::string& url)
{
    discardStalePartialDownload(folder_, url);
    const auto fields = readRecordFile(folder_.partialDownloadInfo(), kKind);
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(folder_.partialDownload(), ec);
    if (!fields || ec || size == 0 || rangeValidator(*fields).empty()) {
        discard();
        return std::nullopt;
    }
    return Resumable{size, rangeValidator(*fields)};
}

void PartialDownload::start(const std::string& url, const std::string& etag, const std::string& lastModified)
{
    close();
    // The old part goes before the new record names it.
    std::error_code ignored;
    fs::remove(folder_.partialDownloadInfo(), ignored);
    open("wb");
    RecordFields fields{{"url", url}};
    if (!etag.empty())
        fields["etag"] = etag;
    if (!lastModified.empty())
        fields["last-modified"] = lastModified;
    writeRecordFile(folder_.partialDownloadInfo(), kKind, fields, false);
}

void PartialDownload::append() { open("ab"); }

void PartialDownload::open(const char* mode)
{
    close();
    std::error_code ignored;
    platform::createSharedFolders(folder_.root, ignored);
    const std::string path = platform::fromPath(folder_.partialDownload());
    errno = 0;
    file_ = std::fopen(path.c_str(), mode);
    if (!file_)
        throwErrno("Cannot open " + path);
    // Another user of a shared program folder may resume it.
    platform::shareWithFolder(folder_.partialDownload());
}

void PartialDownload::write(const char* data, std::size_t size)
{
    errno = 0;
    if (std::fwrite(data, 1, size, file_) != size)
        throwErrno("Cannot write " + platform::fromPath(folder_.partialDownload()));
}

void PartialDownload::close()
{
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

void PartialDownload::finish(const std::string& target)
{
    const std::string path = platform::fromPath(folder_.partialDownload());
    errno = 0;
    const bool flushed = std::fflush(file_) == 0;
    close();
    if (!flushed)
        throwErrno("Cannot write " + path);
    std::error_code ec;
    fs::rename(folder_.partialDownload(), platform::toPath(target), ec);
    if (ec) {
        // The current directory lies on another file system: a copy,
        // itself written under a temporary name.
        if (!platform::copyFileReplacing(path, target, nullptr, ec))
            throw std::system_error(ec, "Cannot move " + path + " to " + target);
    }
    discard();
}

void PartialDownload::discard()
{
    close();
    std::error_code ignored;
    fs::remove(folder_.partialDownload(), ignored);
    fs::remove(folder_.partialDownloadInfo(), ignored);
}

void discardStalePartialDownload(const UpdateFolder& folder, const std::string& url)
{
    const auto fields = readRecordFile(folder.partialDownloadInfo(), kKind);
    std::error_code ec;
    const bool present = fs::exists(folder.partialDownload(), ec) || fs::exists(folder.partialDownloadInfo(), ec);
    if (!present)
        return;
    const auto kept = fields ? fields->find("url") : RecordFields::const_iterator();
    const auto age = fs::file_time_type::clock::now() - fs::last_write_time(folder.partialDownloadInfo(), ec);
    if (!fields || url.empty() || kept == fields->end() || kept->second != url || ec || age > kPartialDownloadMaxAge) {
        fs::remove(folder.partialDownload(), ec);
        fs::remove(folder.partialDownloadInfo(), ec);
    }
}
