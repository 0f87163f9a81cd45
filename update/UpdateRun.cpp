#include "update/UpdateRun.h"

#include "platform/FileOps.h"
#include "platform/PinnedFile.h"
#include "platform/TextCodec.h"
#include "update/DeltaFetch.h"
#include "update/FetchedArchiveMark.h"
#include "update/PartialDownload.h"
#include "update/ProtectedFiles.h"
#include "update/ReleaseChange.h"
#include "update/ReleaseInstaller.h"
#include "update/ReleaseSelfCheck.h"
#include "update/RunScopes.h"
#include "update/UpdateFolder.h"
#include "update/UpdateSettings.h"

#include <utility>

namespace fs = std::filesystem;

TUpdateRun::TUpdateRun(platform::Messages& messages, UpdateView& view, platform::HttpClient& http)
    : RAR1(messages), messages_(messages), view_(view), http_(http), fetch_(messages, http, &watch_)
{
    RAR1.OnProgress = [this](TRAR&, const std::u16string& fileName, std::uint32_t archiveTotal,
                             std::uint32_t archiveDone, std::uint32_t, std::uint32_t) {
        testing_ ? view_.testProgress(archiveDone, archiveTotal) : view_.unpackProgress(archiveDone, archiveTotal);
        if (staging_) {
            staging_->fileStarted(fileName);
            if (OnStep)
                OnStep("unpack");
        }
        if (interrupted())
            RAR1.Abort();
    };
    // Read from the listing that opening the archive makes anyway.
    RAR1.OnListFile = [this](TRAR&, const TRARFileItem& item) { noteEntryMode(entryModes_, item); };
}

bool TUpdateRun::FetchWatch::fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    const bool goOn = run_.view_.fetchProgress(done, total);
    return goOn && !run_.cancelled_ && !run_.interrupted();
}

void TUpdateRun::FetchWatch::fetchFailed(const std::string& reason) { run_.view_.fetchFailed(reason); }

void TUpdateRun::FetchWatch::fetchNote(const std::string& note) { run_.view_.fetchNote(note); }

UpdateOutcome TUpdateRun::BBRenewClick(const UpdateSetup& setup, const std::string& source)
{
    // The dialog processes events during progress calls, so a second click
    // may arrive before the button shows as disabled.
    if (running_)
        return UpdateOutcome::AlreadyRunning;
    RunningScope scope(running_, view_);
    cancelled_ = false;
    record_.reset();

    // The publisher's key and the other settings are read afresh for every run.
    std::optional<platform::ProfileFile> settings;
    if (!setup.settingsFile.empty())
        settings.emplace(setup.settingsFile);
    TReleaseCheck releaseCheck(messages_, view_, settings ? &*settings : nullptr);
    if (!releaseCheck.keyUsable())
        return UpdateOutcome::PublicKeyMalformed;
    const UpdateSettingsRead read = readUpdateSettings(settings ? &*settings : nullptr);
    if (!read.error.empty()) {
        messages_.error(read.error);
        return UpdateOutcome::SettingsMalformed;
    }
    DownloadLimits limits = limits_;
    read.settings.applyTo(limits);
    fetch_.setLimits(limits);
    fetch_.setProxy(read.settings.proxy);

    const UpdateFolder folder(setup.programFolder);
    // A download kept for another location is of no use any more.
    discardStalePartialDownload(folder, setup.http ? TFetch::requestUrl(source) : std::string());
    const std::optional<InstalledRelease> installed = readInstalledRelease(folder);
    releaseCheck.setInstalled(installed ? installed->signedAt : std::nullopt, read.settings.allowDowngrade);

    DownloadOptions options;
    options.resumeIn = folder;
    if (setup.mode != UpdateMode::Always) {
        if (const auto answered = askWhetherChanged(setup, source, installed, releaseCheck, options))
            return *answered;
    }

    const fs::path archive = localArchive(setup);
    const std::string archiveText = platform::fromPath(archive);
    std::optional<FetchedArchiveMark> mark;
    std::optional<platform::PinnedFile> pinned;
    // Declared after the archive it may be reading, so that it ends first.
    KeptZchunk zchunk(folder,
                      setup.http && releaseCheck.hasKey() && read.settings.deltaUpdates && deltaUpdatesBuiltIn());
    const PointerScope<KeptZchunk> keeping(zchunk_, zchunk);
    SourceIdentity identity;
    bool received = false;
    // Each attempt whose release does not hold is followed by the next one
    // TReleaseCheck::retryAfter names, until none is left.
    FetchAttempt attempt = setup.http && read.settings.deltaUpdates ? FetchAttempt::Delta : FetchAttempt::Whole;
    for (;;) {
        const FetchResult fetched = fetchRelease(setup, source, archive, options, attempt);
        if (fetched == FetchResult::NotModified) {
            messages_.information(kNoNewReleaseText);
            return UpdateOutcome::Unchanged;
        }
        if (fetched == FetchResult::Failed)
            return fetchFailed();
        // A rebuilt archive had no answer of its own whose validators could
        // stand for it; with a key its signature tells the next run the same.
        identity = attempt == FetchAttempt::Delta ? SourceIdentity{} : fetch_.identity();
        const bool pastCaches = options.pastCaches;
        releaseCheck.fetchSignature(
            source, archiveText,
            [this, &setup, pastCaches](const std::string& from, const std::string& to) {
                return setup.http ? fetch_.GetInetFile(from, to, pastCaches) : fetch_.GetNetFile(from, to);
            },
            setup.http);
        if (cancelled_) // a cancelled signature fetch ends the run as a cancelled release fetch does
            return fetchFailed();

        // Until the run ends the update folder names the archive, so that a
        // start after a kill removes it.
        mark.reset();
        mark.emplace(folder, platform::absolutePath(archiveText));
        if (!std::exchange(received, true))
            messages_.information(u"Обновление получено.");
        if (interrupted())
            return UpdateOutcome::Interrupted;
        // Opened once, before its signature is checked: the archive that is
        // verified and tested is the archive that is unpacked, whatever another
        // process does with its name meanwhile.
        pinned.reset();
        pinned.emplace(platform::absolutePath(archiveText));
        const std::optional<FetchAttempt> retry = TReleaseCheck::retryAfter(attempt, setup.http);
        if (releaseCheck.confirm(archiveText, pinned->open() ? pinned->readPath() : archiveText, retry))
            break;
        // The refused release goes with its signature and its .zck. Windows
        // deletes no file held open, so there its name is removed once it is let go.
        pinned->removeName();
        zchunk.discardPending();
        if (!retry)
            return releaseCheck.downgradeRefused() ? UpdateOutcome::DowngradeRefused
                                                   : UpdateOutcome::SignatureNotConfirmed;
        attempt = *retry;
        if (attempt == FetchAttempt::WholePastCaches) {
            options.pastCaches = true;
            options.ifNoneMatch.clear();
            options.ifModifiedSince.clear();
        }
    }
    if (attempt == FetchAttempt::Delta)
        zchunk.rebuilt();
    else
        zchunk.makeFrom(pinned->open() ? pinned->readPath() : archiveText, limits, watch_);
    record_ = releaseRecord(source, setup.http, identity, releaseCheck.signatureText(), releaseCheck.signedAt());
    return unpackPinned(archiveText, *pinned, setup.programFolder);
}

std::optional<UpdateOutcome> TUpdateRun::askWhetherChanged(const UpdateSetup& setup, const std::string& source,
                                                           const std::optional<InstalledRelease>& installed,
                                                           const TReleaseCheck& releaseCheck, DownloadOptions& options)
{
    switch (askReleaseChange(fetch_, messages_, setup, source, installed, releaseCheck.hasKey(), options)) {
    case ReleaseChange::Failed: return fetchFailed();
    case ReleaseChange::Same: messages_.information(kNoNewReleaseText); return UpdateOutcome::Unchanged;
    case ReleaseChange::Differs:
    case ReleaseChange::Unknown: break;
    }
    if (setup.mode == UpdateMode::CheckOnly) {
        messages_.information(kNewReleaseText);
        return UpdateOutcome::NewReleaseFound;
    }
    return std::nullopt;
}

FetchResult TUpdateRun::fetchRelease(const UpdateSetup& setup, const std::string& source, const fs::path& archive,
                                     const DownloadOptions& options, FetchAttempt& attempt)
{
    view_.fetchStarting(source, setup.http);
    const std::string to = platform::fromPath(archive);
    if (attempt == FetchAttempt::Delta) {
        const DeltaRequest delta{source, to, options, fetch_.limits(), zchunk_ && zchunk_->wanted()};
        switch (fetchDelta(fetch_, http_, watch_, UpdateFolder(setup.programFolder), delta)) {
        case DeltaResult::Rebuilt: return FetchResult::Fetched;
        case DeltaResult::Unchanged: return FetchResult::NotModified;
        case DeltaResult::Stopped: return FetchResult::Failed;
        case DeltaResult::WholeWithoutZck:
            if (zchunk_)
                zchunk_->notPublished();
            [[fallthrough]];
        case DeltaResult::WholeNeeded: attempt = FetchAttempt::Whole; break;
        }
    }
    if (setup.http)
        return fetch_.download(source, to, options);
    return fetch_.GetNetFile(source, to) ? FetchResult::Fetched : FetchResult::Failed;
}

UpdateOutcome TUpdateRun::fetchFailed()
{
    if (interrupted())
        return UpdateOutcome::Interrupted;
    messages_.error(u"Не удалось обновить файл!");
    return UpdateOutcome::FetchFailed;
}

UpdateOutcome TUpdateRun::UnRarFile(const std::string& RarFileName, const fs::path& programFolder)
{
    platform::PinnedFile pinned(platform::absolutePath(RarFileName));
    return unpackPinned(RarFileName, pinned, programFolder);
}

UpdateOutcome TUpdateRun::unpackPinned(const std::string& RarFileName, platform::PinnedFile& pinned,
                                       const fs::path& programFolder)
{
    const std::string archive = platform::absolutePath(RarFileName);
    const std::u16string shownArchive = platform::ansiToUtf16(archive);
    const std::string readFrom = pinned.open() ? pinned.readPath() : archive;

    entryModes_.clear();
    if (!RAR1.OpenFile(platform::ansiToUtf16(readFrom))) {
        messages_.error(openingFailure(RAR1, shownArchive));
        return UpdateOutcome::OpenFailed;
    }
    // The record's digest is taken beside the test and the install.
    std::optional<ArchiveDigest> digest;
    if (record_)
        digest.emplace(platform::toPath(readFrom));
    bool tested = false;
    {
        FlagScope testing(testing_);
        tested = RAR1.Test();
    }
    if (!tested) {
        if (interrupted())
            return UpdateOutcome::Interrupted;
        messages_.error(u"Архив " + shownArchive + u" поврежден!");
        return UpdateOutcome::TestFailed;
    }
    const UpdateOutcome outcome = stageAndInstall(shownArchive, pinned, programFolder);
    if (outcome != UpdateOutcome::Installed)
        return outcome;
    if (digest)
        rememberInstalled(programFolder, *digest);
    if (zchunk_)
        zchunk_->commit(watch_);
    messages_.information(u"Разархивация завершена.");
    pinned.removeName();
    return UpdateOutcome::Installed;
}

UpdateOutcome TUpdateRun::stageAndInstall(const std::u16string& shownArchive, const platform::PinnedFile& pinned,
                                          const fs::path& programFolder)
{
    const UpdateFolder folder(programFolder);
    ReleaseStaging staging(RAR1, folder);
    std::optional<std::u16string> stagingFailure;
    {
        const PointerScope<ReleaseStaging> unpacking(staging_, staging);
        stagingFailure = staging.unpack(pinned, entryModes_);
    }
    if (stagingFailure) {
        if (interrupted())
            return UpdateOutcome::Interrupted;
        extractFailed(shownArchive, *stagingFailure);
        return UpdateOutcome::ExtractFailed;
    }

    // Checked where the release lies unpacked, before anything is installed:
    // the program folder stays as it is.
    if (const auto broken = findBrokenUpdaterPart(folder.staging(), RAR1.DllName())) {
        messages_.error(brokenUpdaterMessage(*broken, shownArchive));
        return UpdateOutcome::ReleaseBreaksUpdater;
    }

    ReleaseInstaller installer(folder);
    installer.isProtected = [this, &programFolder](const fs::path& relative) {
        return isProtectedFile(programFolder, relative, protected_);
    };
    installer.isReserved = isUpdatersOwn;
    installer.interrupted = [this] { return interrupted(); };
    installer.onStep = OnStep;
    switch (installer.install()) {
    case ReleaseInstaller::Result::Installed: break;
    case ReleaseInstaller::Result::Interrupted: return UpdateOutcome::Interrupted;
    case ReleaseInstaller::Result::Failed: {
        const std::string entry = installer.failedEntry().generic_string();
        extractFailed(shownArchive,
                      (entry.empty() ? u"" : platform::ansiToUtf16(entry) + u": ") + installer.failureCause());
        return UpdateOutcome::ExtractFailed;
    }
    }
    for (const std::u16string& note : skippedFileNotes(installer))
        messages_.information(note);
    return UpdateOutcome::Installed;
}

void TUpdateRun::extractFailed(const std::u16string& shownArchive, const std::u16string& detail)
{
    // The archive is kept, so that it can be installed again once the cause
    // (a locked file, a full disk) is gone.
    messages_.error(u"Ошибка при распаковке архива " + shownArchive + u": " + detail);
}

void TUpdateRun::rememberInstalled(const fs::path& programFolder, ArchiveDigest& digest)
{
    if (!record_)
        return;
    // Only a later run's question depends on it: a record that cannot be
    // written means that run fetches the release once more.
    try {
        measureArchive(*record_, digest);
        writeInstalledRelease(UpdateFolder(programFolder), *record_);
    } catch (const std::exception& e) {
        view_.releaseChecked(std::string("the record of the installed release was not written: ") + e.what());
    }
    record_.reset();
}
