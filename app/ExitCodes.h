#pragma once
// The exit codes of tavrel-update and what each means: --help lists this
// table, the README's table is tested against it, and the dialog program's
// runs leave the same codes in the fleet status table.
#include "update/UpdateRun.h"

#include <string_view>

enum ExitCode {
    kInstalled = 0,
    kFetchFailed = 1,
    kOpenFailed = 2,
    kDamaged = 3,
    kExtractFailed = 4,
    kUnexpectedError = 5,
    kNoDatabase = 6,
    kNoParameters = 7,
    kBusy = 8,
    kInterrupted = 9,
    kSignatureNotConfirmed = 10,
    kPublicKeyMalformed = 11,
    kLockFailed = 12,
    kNoNewRelease = 13,
    kDowngradeRefused = 14,
    kSettingsMalformed = 15,
    kReleaseBreaksUpdater = 16,
    // --fleet-status: workstations failed at their last run or have not run for the days asked.
    kFleetNeedsAttention = 17,
    // --fleet-status: the database has no fleet status table.
    kNoFleetTable = 18,
    kUsage = 64,
};

struct ExitCodeMeaning {
    ExitCode code;
    std::string_view meaning; // one paragraph; --help wraps it
};

inline constexpr ExitCodeMeaning kExitCodes[] = {
    {kInstalled, "the release was installed"},
    {kFetchFailed, "the archive could not be fetched (no file at the path, a location that is no URL, HTTP status "
                   "other than 200 or 302, no answer, a download that broke off, a download or copy that passed its "
                   "limits: less than 64 MiB would stay free, larger than MaxDownloadMB, slower than LowSpeedKB or "
                   "longer than DownloadTimeoutMin of section [Update])"},
    {kOpenFailed, "the archive could not be opened (not a RAR archive, or the UnRAR library beside this executable "
                  "cannot be loaded: the message says so)"},
    {kDamaged, "the archive is damaged"},
    {kExtractFailed, "unpacking or installing failed (no room on the disk, a file that cannot be replaced, a refused "
                     "name; the message names the file and the cause); the program folder is unchanged, the archive "
                     "is kept"},
    {kUnexpectedError, "an unexpected error (for example the archive could not be written)"},
    {kNoDatabase, "no connection to the working-time database"},
    {kNoParameters, "the parameter table could not be read, or it names no update location"},
    {kBusy, "another update is running in this program folder; nothing was done"},
    {kInterrupted, "interrupted (SIGINT, SIGTERM; Windows: Ctrl-Break, console closed); the program folder is "
                   "unchanged, or holds the whole new release when the install was committed"},
    {kSignatureNotConfirmed, "the release's signature was not confirmed (missing, unreadable, not a minisign "
                             "signature, made with another key, or not matching the release or its trusted "
                             "comment); nothing was unpacked"},
    {kPublicKeyMalformed, "the public key in \"Tavrel.INI\" is malformed; nothing was fetched"},
    {kLockFailed, "the update lock of the program folder could not be taken (the message names the cause); nothing "
                  "was done"},
    {kNoNewRelease, "--if-changed, --check: the published release is the installed one; nothing was fetched"},
    {kDowngradeRefused, "the release was signed earlier than the installed one and [Update] AllowDowngrade=1 is not "
                        "set; nothing was unpacked"},
    {kSettingsMalformed, "a setting of \"Tavrel.INI\" is malformed (the message names the key "
                         "and its value); nothing was fetched"},
    {kReleaseBreaksUpdater, "the release's UnRAR library or updater does not work (the message names it); nothing "
                            "was installed, the archive is kept"},
    {kFleetNeedsAttention,
     "--fleet-status: some workstations failed at their last run or have not run for the days asked"},
    {kNoFleetTable, "--fleet-status: the database has no fleet status table (TAVREL_FLEET)"},
    {kUsage, "wrong usage"},
};

int exitCodeOf(UpdateOutcome outcome);
