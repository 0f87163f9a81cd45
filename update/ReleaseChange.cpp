#include "update/ReleaseChange.h"

#include "platform/FileOps.h"
#include "update/ReleaseCheck.h"

namespace {

// A minisign signature is a few hundred bytes; a trusted comment makes it longer.
constexpr std::size_t kSignatureLimit = 64 * 1024;

// The signature covers the archive's hash: the same signature file is the
// same release, and it is a few hundred bytes to ask for. It is kept in
// memory: a run that finds nothing new writes nothing.
ReleaseChange compareSignatures(TFetch& fetch, const UpdateSetup& setup, const std::string& source,
                                const InstalledRelease& installed)
{
    const std::string remote = TReleaseCheck::signatureLocation(source, setup.http);
    if (!setup.http && !platform::isExistingFile(remote))
        return ReleaseChange::Differs; // the update then reports the missing signature
    const std::optional<std::string> published = fetch.readSmallFile(remote, setup.http, kSignatureLimit);
    if (!published)
        return ReleaseChange::Failed;
    return *published == installed.signature ? ReleaseChange::Same : ReleaseChange::Differs;
}

ReleaseChange compareCopiedFile(platform::Messages& messages, const UpdateSetup& setup, const std::string& source,
                                const InstalledRelease& installed)
{
    if (!platform::isExistingFile(source)) {
        if (setup.mode == UpdateMode::IfChanged)
            return ReleaseChange::Differs; // the copy says it was not found
        messages.error(u"Файл обновления по указанному пути не найден!");
        return ReleaseChange::Failed;
    }
    const SourceIdentity now = copiedFileIdentity(platform::toPath(source));
    const bool same = now.size && now.size == installed.sourceSize && now.modified == installed.sourceModified;
    return same ? ReleaseChange::Same : ReleaseChange::Differs;
}

ReleaseChange compareValidators(TFetch& fetch, const UpdateSetup& setup, const std::string& source,
                                const InstalledRelease& installed, DownloadOptions& options)
{
    // A server that gave no validators cannot say "the same".
    if (installed.etag.empty() && installed.lastModified.empty())
        return ReleaseChange::Differs;
    options.ifNoneMatch = installed.etag;
    options.ifModifiedSince = installed.etag.empty() ? installed.lastModified : std::string();
    if (setup.mode == UpdateMode::IfChanged)
        return ReleaseChange::Unknown; // the download itself asks
    DownloadOptions ask = options;
    ask.headOnly = true;
    ask.resumeIn.reset();
    switch (fetch.download(source, kLocalArchiveName, ask)) {
    case FetchResult::NotModified: return ReleaseChange::Same;
    case FetchResult::Fetched: return ReleaseChange::Differs;
    case FetchResult::Failed: break;
    }
    return ReleaseChange::Failed;
}

} // namespace

ReleaseChange askReleaseChange(TFetch& fetch, platform::Messages& messages, const UpdateSetup& setup,
                               const std::string& source, const std::optional<InstalledRelease>& installed,
                               bool signatureDecides, DownloadOptions& options)
{
    if (!installed || installed->location != source || installed->http != setup.http) {
        // Nothing to compare with: a new release if the source has one. A
        // run that installs finds that out by fetching it.
        if (setup.mode != UpdateMode::CheckOnly)
            return ReleaseChange::Differs;
        return fetch.askSource(source, setup.http) ? ReleaseChange::Differs : ReleaseChange::Failed;
    }
    if (signatureDecides && !installed->signature.empty())
        return compareSignatures(fetch, setup, source, *installed);
    if (!setup.http)
        return compareCopiedFile(messages, setup, source, *installed);
    return compareValidators(fetch, setup, source, *installed, options);
}
