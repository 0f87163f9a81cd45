#include "UpdateRun.h"

#include "app/ProcessVariables.h"
#include "app/ReleaseCheck.h"
#include "db/SettingsFile.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

TUpdateRun::TUpdateRun(platform::Messages& messages, UpdateView& view, platform::HttpClient& http)
    : RAR1(messages), messages_(messages), view_(view), fetch_(messages, http, &watch_)
{
    RAR1.OnProgress = [this](TRAR&, const std::u16string&, std::uint32_t archiveTotal, std::uint32_t archiveDone,
                             std::uint32_t, std::uint32_t) {
        testing_ ? view_.testProgress(archiveDone, archiveTotal) : view_.unpackProgress(archiveDone, archiveTotal);
    };
}

bool TUpdateRun::FetchWatch::fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    const bool goOn = run_.view_.fetchProgress(done, total);
    return goOn && !run_.cancelled_;
}

void TUpdateRun::FetchWatch::fetchFailed(const std::string& reason) { run_.view_.fetchFailed(reason); }

namespace {

// Re-enables the renew button on every way out of an update.
class RunningScope {
public:
    RunningScope(bool& running, UpdateView& view) : running_(running), view_(view)
    {
        running_ = true;
        view_.setRenewEnabled(false);
    }
    ~RunningScope()
    {
        running_ = false;
        view_.setRenewEnabled(true);
    }

private:
    bool& running_;
    UpdateView& view_;
};

} // namespace

UpdateOutcome TUpdateRun::BBRenewClick(const std::string& source)
{
    // The dialog processes events during progress calls, so a second click
    // may arrive before the button shows as disabled.
    if (running_)
        return UpdateOutcome::AlreadyRunning;
    RunningScope scope(running_, view_);
    cancelled_ = false;

    // The publisher's key is read afresh for every run.
    TReleaseCheck releaseCheck(messages_, view_, UserIniFile.get());
    if (!releaseCheck.keyUsable())
        return UpdateOutcome::PublicKeyMalformed;

    // HTTP mode downloads into the current directory; copy mode copies into
    // the program folder. Each unpacks the file it fetched, so that a stale
    // archive elsewhere is never installed by mistake.
    const std::string archive = FHttp ? std::string(kLocalArchiveName) : WorkDir + kLocalArchiveName;
    const auto fetchFile = [this](const std::string& from, const std::string& to) {
        return FHttp ? fetch_.GetInetFile(from, to) : fetch_.GetNetFile(from, to);
    };
    bool ok = fetchFile(source, archive);
    if (ok) {
        releaseCheck.fetchSignature(source, archive, fetchFile);
        ok = !cancelled_; // a cancelled signature fetch ends the run as a cancelled release fetch does
    }
    if (!ok) {
        messages_.error(u"Не удалось обновить файл!");
        return UpdateOutcome::FetchFailed;
    }
    messages_.information(u"Обновление получено.");
    if (!releaseCheck.confirm(archive))
        return UpdateOutcome::SignatureNotConfirmed;
    return UnRarFile(archive);
}

UpdateOutcome TUpdateRun::UnRarFile(const std::string& RarFileName)
{
    const std::string archive = platform::absolutePath(RarFileName);
    const std::u16string shownArchive = platform::ansiToUtf16(archive);
    // The library takes the destination in the OEM code page.
    const std::string DirArc = platform::charToOem(WorkDir);

    if (!RAR1.OpenFile(shownArchive)) {
        messages_.error(u"Ошибка при открытии архива " + shownArchive);
        return UpdateOutcome::OpenFailed;
    }
    testing_ = true;
    const bool tested = RAR1.Test();
    testing_ = false;
    if (!tested) {
        messages_.error(u"Архив " + shownArchive + u" поврежден!");
        return UpdateOutcome::TestFailed;
    }
    // The archive is kept after a failed extraction, so that it can be
    // unpacked again once the cause (a locked file, a full disk) is gone.
    if (!RAR1.Extract(DirArc, true, nullptr)) {
        messages_.error(u"Ошибка при распаковке архива " + shownArchive);
        return UpdateOutcome::ExtractFailed;
    }
    messages_.information(u"Разархивация завершена.");
    platform::removeFile(archive);
    return UpdateOutcome::Installed;
}
