#include "ReleaseCheck.h"

#include "db/SettingsFile.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

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

} // namespace

TReleaseCheck::TReleaseCheck(platform::Messages& messages, UpdateView& view, const TSettingsFile* settings)
    : messages_(messages), view_(view)
{
    if (settings) {
        settingsFile_ = platform::fromPath(settings->FileName());
        keyText_ = settings->ReadString(kUpdateSection, kPublicKeyIdent, "");
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
    const std::string remote = signatureOf(source);
    if (!http && !platform::isExistingFile(remote)) {
        view_.fetchFailed("no signature file " + remote);
        return;
    }
    signatureFetched_ = fetch(remote, local);
}

bool TReleaseCheck::confirm(const std::string& archive, const std::string& readFrom)
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
    if (result.check == SignatureCheck::Verified) {
        confirmed_ = true;
        platform::removeFile(signatureOf(archive));
        view_.releaseChecked("signature of " + shown + " verified with key " + key_->keyIdText() +
                             "; trusted comment: " + printable(result.trustedComment));
        return true;
    }
    removeFetched();
    view_.releaseChecked("signature of " + shown + " not confirmed: " + describe(result.check));
    messages_.error(u"Подпись архива " + platform::ansiToUtf16(shown) + u" не подтверждена: " +
                    reasonText(result.check) + u". Обновление не установлено!");
    return false;
}

void TReleaseCheck::removeFetched()
{
    if (archive_.empty())
        return;
    platform::removeFile(signatureOf(archive_));
    platform::removeFile(archive_);
    archive_.clear();
}
