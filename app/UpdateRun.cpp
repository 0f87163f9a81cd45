#include "UpdateRun.h"

#include "app/FailureCause.h"
#include "app/FetchedArchiveMark.h"
#include "app/PartialDownload.h"
#include "app/ReleaseCheck.h"
#include "app/ReleaseInstaller.h"
#include "app/ReleaseSelfCheck.h"
#include "app/Startup.h"
#include "app/UpdateFolder.h"
#include "app/UpdateSettings.h"
#include "db/SettingsFile.h"
#include "platform/DiskSpace.h"
#include "platform/Durability.h"
#include "platform/FileOps.h"
#include "platform/FolderTree.h"
#include "platform/PinnedFile.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <optional>
#include <system_error>

namespace fs = std::filesystem;

TUpdateRun::TUpdateRun(platform::Messages& messages, UpdateView& view, platform::HttpClient& http)
    : RAR1(messages), messages_(messages), view_(view), fetch_(messages, http, &watch_)
{
    RAR1.OnProgress = [this](TRAR&, const std::u16string& fileName, std::uint32_t archiveTotal,
                             std::uint32_t archiveDone, std::uint32_t, std::uint32_t) {
        testing_ ? view_.testProgress(archiveDone, archiveTotal) : view_.unpackProgress(archiveDone, archiveTotal);
        if (staging_) {
            stagedFileStarted(fileName);
            if (OnStep)
                OnStep("unpack");
        }
        if (interrupted())
            RAR1.Abort();
    };
}

void TUpdateRun::stagedFileStarted(const std::u16string& fileName)
{
    if (fileName == stagedFile_)
        return;
    // The file before is complete: its data starts for the disk while the
    // next one is unpacked, so that the flush before the install finds
    // little left to write.
    if (!stagedFile_.empty())
        platform::startWriting(platform::fromPath(stagedPath(stagedFile_)));
    stagedFile_ = fileName;
    stagedFiles_.push_back(fileName);
}

std::filesystem::path TUpdateRun::stagedPath(const std::u16string& entryName) const
{
    std::u16string relative = entryName;
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    return stagingFolder_ / platform::toPath(platform::utf16ToAnsi(relative));
}

std::optional<std::u16string> TUpdateRun::missingStagedFile() const
{
    for (const std::u16string& name : stagedFiles_) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(stagedPath(name), ec)))
            return name;
    }
    return std::nullopt;
}

bool TUpdateRun::FetchWatch::fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total)
{
    const bool goOn = run_.view_.fetchProgress(done, total);
    return goOn && !run_.cancelled_ && !run_.interrupted();
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

// Clears a flag on every way out of a scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }

private:
    bool& flag_;
};

std::u16string megabytes(std::uint64_t bytes)
{
    // Rounded up, without overflow for the largest sizes a header may claim.
    return platform::toUtf16(std::to_string((bytes >> 20) + ((bytes & ((1u << 20) - 1)) != 0)));
}

// Why the library stopped at an entry of the release.
std::u16string unpackingCause(int code, const std::string& folder)
{
    switch (code) {
    case ERAR_EWRITE:
    case ERAR_ECLOSE:
    case ERAR_ECREATE: {
        // The library does not pass the system's reason on; a disk without
        // room left is the common one and can be seen afterwards.
        const auto left = platform::freeBytes(folder);
        if (left && *left < (1u << 20))
            return kNoSpaceCause;
        const auto entriesLeft = platform::freeFileEntries(folder);
        if (entriesLeft && *entriesLeft == 0)
            return kNoFileEntriesCause;
        return code == ERAR_ECREATE ? kRefusedName : u"ошибка записи файла";
    }
    case ERAR_BAD_DATA: return u"данные архива повреждены";
    default: return u"ошибка распаковки (код " + platform::toUtf16(std::to_string(code)) + u")";
    }
}

// Names of the program's own files compare without regard to case, as on the
// system they come from.
bool sameNameIgnoringCase(const std::string& name, const std::string& own)
{
    if (name.size() != own.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != std::tolower(static_cast<unsigned char>(own[i])))
            return false;
    }
    return true;
}

bool isSettingsFile(const fs::path& relative)
{
    return sameNameIgnoringCase(relative.generic_string(), kSettingsFileName);
}

// Entries that would land in the update's own folder (its journal, backup,
// lock) or take the name of the fetched archive, which the run then removes.
bool isUpdatersOwn(const fs::path& relative)
{
    return !relative.empty() && (sameNameIgnoringCase(relative.begin()->string(), kUpdateFolderName) ||
                                 sameNameIgnoringCase(relative.generic_string(), kLocalArchiveName));
}

} // namespace

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
    std::optional<TSettingsFile> settings;
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

    const bool http = setup.http;
    const UpdateFolder folder(platform::toPath(setup.programFolder));
    // A download kept for another location is of no use any more.
    discardStalePartialDownload(folder, http ? TFetch::requestUrl(source) : std::string());
    const std::optional<InstalledRelease> installed = readInstalledRelease(folder);
    releaseCheck.setInstalled(installed ? installed->signedAt : std::nullopt, read.settings.allowDowngrade);

    // HTTP mode downloads into the current directory; copy mode copies into
    // the program folder. Each unpacks the file it fetched, so that a stale
    // archive elsewhere is never installed by mistake.
    const std::string archive = http ? std::string(kLocalArchiveName) : setup.programFolder + kLocalArchiveName;
    DownloadOptions options;
    options.resumeIn = folder;
    if (setup.mode != UpdateMode::Always) {
        const Change change = releaseChange(setup, source, installed, releaseCheck, options);
        if (change == Change::Failed) {
            if (interrupted())
                return UpdateOutcome::Interrupted;
            messages_.error(u"Не удалось обновить файл!");
            return UpdateOutcome::FetchFailed;
        }
        if (change == Change::Same) {
            messages_.information(kNoNewReleaseText);
            return UpdateOutcome::Unchanged;
        }
        if (setup.mode == UpdateMode::CheckOnly) {
            messages_.information(kNewReleaseText);
            return UpdateOutcome::NewReleaseFound;
        }
    }

    const auto fetchFile = [this, http](const std::string& from, const std::string& to) {
        return http ? fetch_.GetInetFile(from, to) : fetch_.GetNetFile(from, to);
    };
    view_.fetchStarting(source, http);
    const FetchResult fetched = http
                                    ? fetch_.download(source, archive, options)
                                    : (fetch_.GetNetFile(source, archive) ? FetchResult::Fetched : FetchResult::Failed);
    if (fetched == FetchResult::NotModified) {
        messages_.information(kNoNewReleaseText);
        return UpdateOutcome::Unchanged;
    }
    const SourceIdentity identity = fetch_.identity();
    bool ok = fetched == FetchResult::Fetched;
    if (ok) {
        releaseCheck.fetchSignature(source, archive, fetchFile, http);
        ok = !cancelled_; // a cancelled signature fetch ends the run as a cancelled release fetch does
    }
    if (!ok) {
        if (interrupted())
            return UpdateOutcome::Interrupted;
        messages_.error(u"Не удалось обновить файл!");
        return UpdateOutcome::FetchFailed;
    }
    // Until the run ends the update folder names the archive, so that a
    // start after a kill removes it.
    const FetchedArchiveMark mark(folder, platform::absolutePath(archive));
    messages_.information(u"Обновление получено.");
    if (interrupted())
        return UpdateOutcome::Interrupted;
    // Opened once, before its signature is checked: the archive that is
    // verified and tested is the archive that is unpacked, whatever another
    // process does with its name meanwhile.
    platform::PinnedFile pinned(platform::absolutePath(archive));
    const std::string readFrom = pinned.open() ? pinned.readPath() : archive;
    if (!releaseCheck.confirm(archive, readFrom)) {
        // The refused release goes with its signature. Windows deletes no
        // file held open, so there its name is removed once it is let go.
        pinned.removeName();
        return releaseCheck.downgradeRefused() ? UpdateOutcome::DowngradeRefused : UpdateOutcome::SignatureNotConfirmed;
    }
    InstalledRelease release;
    release.location = source;
    release.http = http;
    release.etag = identity.etag;
    release.lastModified = identity.lastModified;
    release.sourceSize = identity.size;
    release.sourceModified = identity.modified;
    release.signature = releaseCheck.signatureText();
    release.signedAt = releaseCheck.signedAt();
    record_ = release;
    return unpackPinned(archive, pinned, setup.programFolder);
}

TUpdateRun::Change TUpdateRun::releaseChange(const UpdateSetup& setup, const std::string& source,
                                             const std::optional<InstalledRelease>& installed,
                                             const TReleaseCheck& releaseCheck, DownloadOptions& options)
{
    if (!installed || installed->location != source || installed->http != setup.http)
        return Change::Differs;
    // The signature covers the archive's hash: the same signature file is
    // the same release, and it is a few hundred bytes to ask for.
    if (releaseCheck.hasKey() && !installed->signature.empty())
        return sameSignature(setup, source, *installed);
    if (!setup.http) {
        if (!platform::isExistingFile(source)) {
            if (setup.mode == UpdateMode::IfChanged)
                return Change::Differs; // the copy says it was not found
            messages_.error(u"Файл обновления по указанному пути не найден!");
            return Change::Failed;
        }
        const SourceIdentity now = copiedFileIdentity(platform::toPath(source));
        const bool same = now.size && now.size == installed->sourceSize && now.modified == installed->sourceModified;
        return same ? Change::Same : Change::Differs;
    }
    // A server that gave no validators cannot say "the same".
    if (installed->etag.empty() && installed->lastModified.empty())
        return Change::Differs;
    options.ifNoneMatch = installed->etag;
    options.ifModifiedSince = installed->etag.empty() ? installed->lastModified : std::string();
    if (setup.mode == UpdateMode::IfChanged)
        return Change::Unknown; // the download itself asks
    DownloadOptions ask = options;
    ask.headOnly = true;
    ask.resumeIn.reset();
    switch (fetch_.download(source, kLocalArchiveName, ask)) {
    case FetchResult::NotModified: return Change::Same;
    case FetchResult::Fetched: return Change::Differs;
    case FetchResult::Failed: break;
    }
    return Change::Failed;
}

TUpdateRun::Change TUpdateRun::sameSignature(const UpdateSetup& setup, const std::string& source,
                                             const InstalledRelease& installed)
{
    const UpdateFolder folder(platform::toPath(setup.programFolder));
    const std::string remote = TReleaseCheck::signatureLocation(source, setup.http);
    const std::string local = platform::fromPath(folder.root / "published.minisig");
    if (!setup.http && !platform::isExistingFile(remote))
        return Change::Differs; // the update then reports the missing signature
    const bool fetched = setup.http ? fetch_.GetInetFile(remote, local) : fetch_.GetNetFile(remote, local);
    if (!fetched) {
        platform::removeFile(local);
        return Change::Failed;
    }
    const std::string published = platform::readWholeFile(local);
    platform::removeFile(local);
    return published == installed.signature ? Change::Same : Change::Differs;
}

UpdateOutcome TUpdateRun::UnRarFile(const std::string& RarFileName, const std::string& programFolder)
{
    platform::PinnedFile pinned(platform::absolutePath(RarFileName));
    return unpackPinned(RarFileName, pinned, programFolder);
}

UpdateOutcome TUpdateRun::unpackPinned(const std::string& RarFileName, platform::PinnedFile& pinned,
                                       const std::string& programFolder)
{
    const std::string archive = platform::absolutePath(RarFileName);
    const std::u16string shownArchive = platform::ansiToUtf16(archive);
    const std::u16string readName = pinned.open() ? platform::ansiToUtf16(pinned.readPath()) : shownArchive;

    if (!RAR1.OpenFile(readName)) {
        // Without the library no archive opens: saying so points at the
        // program folder, not at the release.
        if (!RAR1.isDLLLoaded())
            messages_.error(u"Библиотека UnRAR " + platform::ansiToUtf16(RAR1.DllName()) + u" не загружается (" +
                            platform::ansiToUtf16(RAR1.LoadError()) + u"), архив " + shownArchive +
                            u" не открыт. Восстановите библиотеку в папке программы.");
        else
            messages_.error(u"Ошибка при открытии архива " + shownArchive);
        return UpdateOutcome::OpenFailed;
    }
    testing_ = true;
    const bool tested = RAR1.Test();
    testing_ = false;
    if (!tested) {
        if (interrupted())
            return UpdateOutcome::Interrupted;
        messages_.error(u"Архив " + shownArchive + u" поврежден!");
        return UpdateOutcome::TestFailed;
    }
    if (record_) {
        const fs::path bytes = platform::toPath(pinned.open() ? pinned.readPath() : archive);
        std::error_code ec;
        record_->size = fs::file_size(bytes, ec);
        record_->sha256 = fileSha256(bytes);
    }
    const UpdateOutcome outcome = install(shownArchive, pinned, programFolder);
    if (outcome != UpdateOutcome::Installed)
        return outcome;
    rememberInstalled(programFolder);
    messages_.information(u"Разархивация завершена.");
    pinned.removeName();
    return UpdateOutcome::Installed;
}

void TUpdateRun::rememberInstalled(const std::string& programFolder)
{
    if (!record_)
        return;
    // Only a later run's question depends on it: a record that cannot be
    // written means that run fetches the release once more.
    try {
        writeInstalledRelease(UpdateFolder(platform::toPath(programFolder)), *record_);
    } catch (const std::exception& e) {
        view_.releaseChecked(std::string("the record of the installed release was not written: ") + e.what());
    }
    record_.reset();
}

void TUpdateRun::extractFailed(const std::u16string& shownArchive, const std::u16string& detail)
{
    // The archive is kept, so that it can be installed again once the cause
    // (a locked file, a full disk) is gone.
    messages_.error(u"Ошибка при распаковке архива " + shownArchive + u": " + detail);
}

bool TUpdateRun::isProtected(const fs::path& relative, const std::string& programFolder) const
{
    if (isSettingsFile(relative))
        return true;
    std::error_code ec;
    const fs::path target = fs::weakly_canonical(platform::plainPath(platform::toPath(programFolder) / relative), ec);
    for (const std::string& path : protected_) {
        std::error_code ignored;
        if (!ec &&
            platform::samePathText(fs::weakly_canonical(platform::plainPath(platform::toPath(path)), ignored), target))
            return true;
    }
    return false;
}

UpdateOutcome TUpdateRun::install(const std::u16string& shownArchive, const platform::PinnedFile& pinned,
                                  const std::string& programFolder)
{
    const UpdateFolder folder(platform::toPath(programFolder));
    // Until it is moved in by renames the whole release lies in the staging
    // area, beside the files it replaces.
    const std::uint64_t needed = RAR1.ArchiveInformation().UnpackedBytes();
    const auto left = platform::freeBytes(programFolder);
    if (left && *left < needed) {
        extractFailed(shownArchive, std::u16string(kNoSpaceCause) + u" (нужно " + megabytes(needed) +
                                        u" МБ, свободно " + megabytes(*left) + u" МБ)");
        return UpdateOutcome::ExtractFailed;
    }

    std::error_code ec;
    platform::removeTree(folder.staging(), ec);
    fs::create_directories(folder.staging(), ec);
    if (ec) {
        extractFailed(shownArchive,
                      platform::ansiToUtf16(platform::fromPath(folder.staging())) + u": " + failureCause(ec));
        return UpdateOutcome::ExtractFailed;
    }
    // Whatever way this ends, nothing of the staging area stays behind;
    // unless an install could not be undone, whose journal and backup the
    // next start needs.
    struct StagingCleanUp {
        const UpdateFolder& folder;
        ~StagingCleanUp()
        {
            std::error_code ignored;
            if (!fs::exists(folder.journal(), ignored))
                ReleaseInstaller::cleanUp(folder);
        }
    } cleanUp{folder};

    int failedCode = 0;
    std::u16string failedEntry;
    RAR1.OnError = [&](TRAR& rar, std::int32_t code, TRAROperation) {
        if (failedCode == 0) {
            failedCode = code;
            failedEntry = rar.CurrentFileName();
        }
    };
    bool extracted = false;
    try {
        FlagScope staging(staging_);
        stagingFolder_ = folder.staging();
        stagedFile_.clear();
        stagedFiles_.clear();
        const std::string stagingFolder = platform::fromPath(folder.staging() / "");
        extracted = RAR1.Extract(platform::charToOem(stagingFolder), true, nullptr);
    } catch (...) {
        RAR1.OnError = nullptr;
        throw;
    }
    RAR1.OnError = nullptr;

    if (!extracted || !pinned.unchanged()) {
        if (interrupted())
            return UpdateOutcome::Interrupted;
        if (!pinned.unchanged())
            extractFailed(shownArchive, kArchiveChanged);
        else
            extractFailed(shownArchive, (failedEntry.empty() ? u"" : failedEntry + u": ") +
                                            unpackingCause(failedCode, platform::fromPath(folder.staging())));
        return UpdateOutcome::ExtractFailed;
    }

    // A library that reports success must also have put the data where it
    // was asked to; else the install would go on with files missing.
    if (const auto missing = missingStagedFile()) {
        extractFailed(shownArchive, *missing + u": " + kNotInStaging);
        return UpdateOutcome::ExtractFailed;
    }

    // Checked where the release lies unpacked, before anything is installed:
    // the program folder stays as it is.
    if (const auto broken = findBrokenUpdaterPart(folder.staging(), RAR1.DllName())) {
        messages_.error(u"Обновление из архива " + shownArchive + u" не установлено: " +
                        platform::ansiToUtf16(broken->entry.generic_string()) + u" из него не работает — " +
                        broken->cause +
                        u". Иначе следующие обновления стали бы невозможны; программа осталась прежней.");
        return UpdateOutcome::ReleaseBreaksUpdater;
    }

    ReleaseInstaller installer(folder);
    installer.isProtected = [this, &programFolder](const fs::path& relative) {
        return isProtected(relative, programFolder);
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
    for (const fs::path& kept : installer.kept()) {
        messages_.information(u"Файл " + platform::ansiToUtf16(kept.generic_string()) +
                              u" из обновления не установлен: оставлен файл рабочего места.");
    }
    for (const fs::path& reserved : installer.reserved()) {
        messages_.information(u"Файл " + platform::ansiToUtf16(reserved.generic_string()) +
                              u" из обновления не установлен: это имя занято программой обновления.");
    }
    return UpdateOutcome::Installed;
}
