#pragma once
// One update, as the renew button runs it: fetch the release archive, test
// it, unpack it into the update folder's staging area, install it over the
// program folder as one step and delete it, telling the user each outcome
// through the message boxes. Plain C++, shared by the dialog and the
// command-line front end, which hold the update lock around it.
#include "RAR_Component/RAR.h"
#include "platform/HttpClient.h"
#include "platform/Messages.h"
#include "platform/ProfileFile.h"
#include "update/Fetch.h"
#include "update/InstalledRelease.h"
#include "update/KeptZchunk.h"
#include "update/ReleaseCheck.h"
#include "update/ReleaseStaging.h"
#include "update/UpdateSetup.h"
#include "update/UpdateView.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class PinnedFile;
}

enum class UpdateOutcome {
    Installed,             // fetched, tested, unpacked, archive deleted
    FetchFailed,           // "Не удалось обновить файл!" shown
    OpenFailed,            // the archive could not be opened (or the library loaded)
    TestFailed,            // an entry of the archive is damaged
    ExtractFailed,         // unpacking or installing failed; the program folder is unchanged, the archive kept
    AlreadyRunning,        // asked again while an update runs (events processed in progress calls)
    Interrupted,           // Interrupted() became true; the program folder is unchanged
    SignatureNotConfirmed, // a key is configured and the release's signature did not hold; both removed
    PublicKeyMalformed,    // the configured key is no public key; nothing fetched
    Unchanged,             // IfChanged, CheckOnly: the published release is the installed one; nothing fetched
    NewReleaseFound,       // CheckOnly: the published release differs from the installed one
    DowngradeRefused,      // signed before the installed release; removed, nothing installed
    SettingsMalformed,     // a value of section [Update] is malformed; nothing fetched
    ReleaseBreaksUpdater,  // the release's UnRAR library or updater does not work; nothing installed, archive kept
};

inline constexpr const char16_t* kNoNewReleaseText = u"Новой версии программы нет: установлена опубликованная версия.";
inline constexpr const char16_t* kNewReleaseText = u"Опубликована новая версия программы.";

class TUpdateRun {
public:
    TUpdateRun(platform::Messages& messages, UpdateView& view, platform::HttpClient& http);

    // Runs one update of `setup`'s program folder from `source` (8-bit ANSI,
    // the location as the user left it): a URL when setup.http is set, else
    // the path of the archive file. With a public key in setup's settings
    // file, the release is opened only when its publisher's signature holds.
    // The renew button is enabled again also when an exception escapes; the
    // exception itself goes on to the caller's default report.
    UpdateOutcome BBRenewClick(const UpdateSetup& setup, const std::string& source);

    // Tests and unpacks the archive `RarFileName` (8-bit ANSI, relative to the
    // current directory or absolute) into `programFolder` and deletes it;
    // every outcome is shown in a message box.
    UpdateOutcome UnRarFile(const std::string& RarFileName, const std::filesystem::path& programFolder);

    // Asks a running fetch to stop; it then fails as any broken fetch does.
    // Unpacking and installing go on: the dialog's user waits for them.
    void cancel() { cancelled_ = true; }
    // Bounds of the downloads of later runs (free-space margin, size cap);
    // the settings file's time limits are added to them for each run.
    void setDownloadLimits(const DownloadLimits& limits) { limits_ = limits; }
    bool running() const { return running_; }

    // Files of the workstation that a release never replaces, as absolute
    // paths (the settings file is always among them): the embedded database
    // the program is connected to.
    void protectFile(const std::filesystem::path& path) { protected_.push_back(path); }

    // The archive component; its library name may be changed before a run.
    TRAR RAR1;

    // Polled during fetching, testing, unpacking and installing; true stops
    // the update where it is and leaves the program folder as it was (or
    // finishes an install already committed). The command line's signals.
    std::function<bool()> Interrupted;
    // Told of each unpacked block and each install step (see ReleaseInstaller).
    std::function<void(std::string_view step)> OnStep;

private:
    bool interrupted() const { return Interrupted && Interrupted(); }
    // The steps of one run, in their order.
    std::optional<UpdateOutcome> askWhetherChanged(const UpdateSetup& setup, const std::string& source,
                                                   const std::optional<InstalledRelease>& installed,
                                                   const TReleaseCheck& releaseCheck, DownloadOptions& options);
    // Fetches the release as `attempt` says; a delta that falls back to the
    // whole archive turns it into FetchAttempt::Whole.
    FetchResult fetchRelease(const UpdateSetup& setup, const std::string& source, const std::filesystem::path& archive,
                             const DownloadOptions& options, FetchAttempt& attempt);
    // Tests, stages and installs the archive held open by `pinned`, named `RarFileName`.
    UpdateOutcome unpackPinned(const std::string& RarFileName, platform::PinnedFile& pinned,
                               const std::filesystem::path& programFolder);
    UpdateOutcome stageAndInstall(const std::u16string& shownArchive, const platform::PinnedFile& pinned,
                                  const std::filesystem::path& programFolder);
    UpdateOutcome fetchFailed();
    void extractFailed(const std::u16string& shownArchive, const std::u16string& detail);
    void rememberInstalled(const std::filesystem::path& programFolder, ArchiveDigest& digest);

    // Forwards fetch progress to the view and adds cancellation.
    class FetchWatch : public FetchObserver {
    public:
        explicit FetchWatch(TUpdateRun& run) : run_(run) {}
        bool fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total) override;
        void fetchFailed(const std::string& reason) override;
        void fetchNote(const std::string& note) override;

    private:
        TUpdateRun& run_;
    };

    platform::Messages& messages_;
    UpdateView& view_;
    platform::HttpClient& http_;
    FetchWatch watch_{*this};
    TFetch fetch_;
    bool running_ = false;
    bool cancelled_ = false;
    bool testing_ = false;              // the archive's progress belongs to its test
    ReleaseStaging* staging_ = nullptr; // set while the release is unpacked into the staging area
    KeptZchunk* zchunk_ = nullptr;      // set while a run fetches and installs
    std::vector<std::filesystem::path> protected_;
    DownloadLimits limits_;
    // Written once the release being installed has committed.
    std::optional<InstalledRelease> record_;
    EntryModes entryModes_; // of the archive opened last
};
