#pragma once
// The publisher's signature as a step of the update run. When the settings
// file holds a public key (section "Update", key "PublicKey"), the release's
// signature, its location with ".minisig" appended to the path (before a
// query), is fetched the way the release was, and the release is opened only when the signature holds. A
// release that fails is removed with its signature, so that nothing unsigned
// stays behind to be unpacked by mistake. Without a key the run goes on as it
// always did.
#include "platform/Messages.h"
#include "update/ReleaseSignature.h"
#include "update/UpdateView.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {
class ProfileFile;
}

// How a release is fetched, in the order a run tries them while its
// signature does not hold.
enum class FetchAttempt {
    Delta,           // rebuilt from the chunks of the release before it
    Whole,           // the whole archive
    WholePastCaches, // the whole archive once more, from the origin past any cache
};

// Settings section and key of the publisher's public key.
inline constexpr const char* kUpdateSection = "Update";
inline constexpr const char* kPublicKeyIdent = "PublicKey";

class TReleaseCheck {
public:
    // Copies or downloads `from` into the local file `to`, as the release was.
    using FetchFile = std::function<bool(const std::string& from, const std::string& to)>;

    // Reads the key from `settings` (none when it is null or the key is empty).
    TReleaseCheck(platform::Messages& messages, UpdateView& view, const platform::ProfileFile* settings);
    // Removes the fetched release and its signature unless the release was confirmed.
    ~TReleaseCheck();
    TReleaseCheck(const TReleaseCheck&) = delete;
    TReleaseCheck& operator=(const TReleaseCheck&) = delete;

    // False, after telling the user, when a key is configured but is no
    // minisign public key. Asked before anything is fetched; confirm()
    // refuses every release while the key is unusable.
    bool keyUsable();
    // A usable key is configured.
    bool hasKey() const { return key_.has_value(); }

    // Where the signature of the release at `source` is published.
    static std::string signatureLocation(const std::string& source, bool http);

    // The attempt after `refused`, whose release did not hold, or nothing
    // when the refusal stands. A rebuilt archive is fetched whole; a release
    // is replaced file by file, and a cache on the way may hold the old
    // archive beside the new signature for a while (or the reverse), so over
    // HTTP a whole archive is fetched once more from the origin, past the caches.
    static std::optional<FetchAttempt> retryAfter(FetchAttempt refused, bool http);

    // The signing time of the installed release: a release signed earlier is
    // refused unless `allowDowngrade`. Nothing known: every time is accepted.
    void setInstalled(std::optional<std::int64_t> installedSignedAt, bool allowDowngrade)
    {
        installedSignedAt_ = installedSignedAt;
        allowDowngrade_ = allowDowngrade;
    }

    // After the release `source` was fetched into `archive` (8-bit ANSI),
    // downloaded when `http` is set, else copied: fetches its signature
    // beside it when a key is configured. A signature that cannot be fetched
    // is left for confirm() to report.
    void fetchSignature(const std::string& source, const std::string& archive, const FetchFile& fetch, bool http);

    // Whether `archive` may be opened: true without a key, or when its
    // signature holds. Otherwise one error message names the archive and
    // says why, and the archive and its signature are removed. The bytes
    // checked are read from `readFrom`: the archive as it is held open for
    // unpacking, so that no other file can take its place after the check.
    // With a `retry` a refusal is only noted in the view: the caller fetches
    // the release and its signature that way and asks again.
    bool confirm(const std::string& archive, const std::string& readFrom,
                 std::optional<FetchAttempt> retry = std::nullopt);

    // After confirm() refused a release: it was refused for being older
    // than the installed one, its signature itself holds.
    bool downgradeRefused() const { return downgradeRefused_; }
    // After confirm() accepted a release with a key: the signature file and
    // the signing time its trusted comment carries.
    const std::string& signatureText() const { return signatureText_; }
    std::optional<std::int64_t> signedAt() const { return signedAt_; }

private:
    void removeFetched();
    // Refuses, telling the user, a release signed before the installed one.
    bool refusedAsOlder(const std::string& shown, const std::string& trustedComment, std::optional<FetchAttempt> retry);

    platform::Messages& messages_;
    UpdateView& view_;
    std::string settingsFile_;
    std::string keyText_;
    std::optional<MinisignPublicKey> key_;
    std::string archive_; // set once the release was fetched with a key configured
    bool signatureFetched_ = false;
    bool confirmed_ = false;
    std::optional<std::int64_t> installedSignedAt_;
    bool allowDowngrade_ = false;
    bool downgradeRefused_ = false;
    std::string signatureText_;
    std::optional<std::int64_t> signedAt_;
};
