#include "ReleaseCheck.h"

#include "platform/FileOps.h"
#include "platform/ProfileFile.h"
#include "platform/TextCodec.h"
#include "update/InstalledRelease.h"
#include "update/ReleaseLocation.h"

#include <ctime>

namespace {

// Local name of the fetched signature, beside the archive.
std::string signatureOf(const std::string& path) { return path + ".minisig"; }

// Why the user's release was refused, to follow "не подтверждена: ".
std::u16string reasonText(SignatureCheck check)
{
    switch (check) {
    case SignatureCheck::Verified: break;
    case SignatureCheck::SignatureUnreadable: return u"файл подписи не получен";
    case SignatureCheck::MalformedSignature: return u"файл подписи поврежден или не является подписью";
    case SignatureCheck::KeyIdMismatch: return u"архив подписан другим ключом";
    case SignatureCheck::BadSignature: return u"архив не совпадает с подписанным";
    case SignatureCheck::BadTrustedComment: return u"доверенный комментарий подписи изменен";
    }
    return u"";
}

// The trusted comment comes from the release server: shown on a terminal, it
// must not carry control sequences.
std::string printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t')
            c = '?';
    return text;
}

// A signing time as the user reads it.
std::u16string shownTime(std::int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    const std::tm* utc = std::gmtime(&time);
    char text[32] = "?";
    if (utc)
        std::strftime(text, sizeof text, "%d.%m.%Y %H:%M:%S UTC", utc);
    return platform::toUtf16(text);
}

// What the view's line says the run does next.
std::string retryNote(FetchAttempt retry)
{
    return retry == FetchAttempt::WholePastCaches ? "asking once more past caches" : "fetching the whole archive";
}

} // namespace

std::optional<FetchAttempt> TReleaseCheck::retryAfter(FetchAttempt refused, bool http)
{
    switch (refused) {
    case FetchAttempt::Delta: return FetchAttempt::Whole;
    case FetchAttempt::Whole: return http ? std::optional(FetchAttempt::WholePastCaches) : std::nullopt;
    case FetchAttempt::WholePastCaches: break;
    }
    return std::nullopt;
}

std::string TReleaseCheck::signatureLocation(const std::string& source, bool http)
{
    return besideRelease(source, http, ".minisig");
}

TReleaseCheck::TReleaseCheck(platform::Messages& messages, UpdateView& view, const platform::ProfileFile* settings)
    : messages_(messages), view_(view)
{
    if (settings) {
        settingsFile_ = platform::fromPath(settings->path());
        keyText_ = settings->read(kUpdateSection, kPublicKeyIdent).value_or("");
    }
    if (!keyText_.empty())
        key_ = MinisignPublicKey::parse(keyText_);
}

TReleaseCheck::~TReleaseCheck()
{
    if (!confirmed_)
        removeFetched();
}

bool TReleaseCheck::keyUsable()
{
    if (!keyText_.empty() && !key_) {
        messages_.error(u"В файле настроек " + platform::ansiToUtf16(settingsFile_) +
                        u" неверный открытый ключ обновлений (раздел [Update], ключ PublicKey)!");
        return false;
    }
    return true;
}

void TReleaseCheck::fetchSignature(const std::string& source, const std::string& archive, const FetchFile& fetch,
                                   bool http)
{
    if (keyText_.empty())
        return;
    archive_ = archive;
    if (!key_)
        return;
    // A signature left from an earlier run must never stand in for this one.
    const std::string local = signatureOf(archive);
    platform::removeFile(local);
    // A missing signature file is the refusal's business; the copy's own
    // "not found" message speaks of the release and would mislead.
    const std::string remote = signatureLocation(source, http);
    if (!http && !platform::isExistingFile(remote)) {
        view_.fetchFailed("no signature file " + remote);
        return;
    }
    signatureFetched_ = fetch(remote, local);
}

bool TReleaseCheck::confirm(const std::string& archive, const std::string& readFrom, std::optional<FetchAttempt> retry)
{
    const std::string shown = platform::absolutePath(archive);
    if (keyText_.empty()) {
        view_.releaseChecked("the release " + shown + " was not verified: no public key in section [" + kUpdateSection +
                             "], key " + kPublicKeyIdent + " of the settings file");
        return true;
    }
    if (!key_) { // keyUsable() was not asked: a configured key that is unusable lets nothing through
        removeFetched();
        return keyUsable();
    }
    const SignatureResult result =
        signatureFetched_ ? verifySignature(*key_, platform::toPath(readFrom), platform::toPath(signatureOf(archive)))
                          : SignatureResult{SignatureCheck::SignatureUnreadable, {}};
    if (result.check == SignatureCheck::Verified && refusedAsOlder(shown, result.trustedComment, retry)) {
        removeFetched();
        return false;
    }
    if (result.check == SignatureCheck::Verified) {
        confirmed_ = true;
        signatureText_ = platform::readWholeFile(signatureOf(archive));
        signedAt_ = signingTime(result.trustedComment);
        platform::removeFile(signatureOf(archive));
        view_.releaseChecked("signature of " + shown + " verified with key " + key_->keyIdText() +
                             "; trusted comment: " + printable(result.trustedComment));
        return true;
    }
    removeFetched();
    view_.releaseChecked("signature of " + shown + " not confirmed: " + describe(result.check) +
                         (retry ? "; " + retryNote(*retry) : std::string()));
    if (retry) {
        signatureFetched_ = false;
        return false;
    }
    messages_.error(u"Подпись архива " + platform::ansiToUtf16(shown) + u" не подтверждена: " +
                    reasonText(result.check) + u". Обновление не установлено!");
    return false;
}

bool TReleaseCheck::refusedAsOlder(const std::string& shown, const std::string& trustedComment,
                                   std::optional<FetchAttempt> retry)
{
    const std::optional<std::int64_t> signedAt = signingTime(trustedComment);
    if (!signedAt || !installedSignedAt_ || *signedAt >= *installedSignedAt_)
        return false;
    if (allowDowngrade_) {
        view_.releaseChecked("the release " + shown + " is older than the installed one; installed as [" +
                             kUpdateSection + "] AllowDowngrade=1 of the settings file allows");
        return false;
    }
    if (retry) {
        view_.releaseChecked("the release " + shown + " was signed before the installed one; " + retryNote(*retry));
        return true;
    }
    downgradeRefused_ = true;
    view_.releaseChecked("the release " + shown + " was signed before the installed one; refused");
    messages_.error(u"Архив " + platform::ansiToUtf16(shown) + u" подписан " + shownTime(*signedAt) +
                    u", раньше установленной версии (подписана " + shownTime(*installedSignedAt_) +
                    u"): более старая версия не устанавливается. Обновление не установлено!");
    return true;
}

void TReleaseCheck::removeFetched()
{
    if (archive_.empty())
        return;
    platform::removeFile(signatureOf(archive_));
    platform::removeFile(archive_);
    archive_.clear();
}
