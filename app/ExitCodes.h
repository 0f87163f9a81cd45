#pragma once
// The exit codes of tavrel-update, which the dialog program's runs also
// leave in the fleet status table, so that both read alike there.
#include "update/UpdateRun.h"

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

int exitCodeOf(UpdateOutcome outcome);
