#include "ExitCodes.h"

int exitCodeOf(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Installed: return kInstalled;
    case UpdateOutcome::FetchFailed: return kFetchFailed;
    case UpdateOutcome::OpenFailed: return kOpenFailed;
    case UpdateOutcome::TestFailed: return kDamaged;
    case UpdateOutcome::ExtractFailed: return kExtractFailed;
    case UpdateOutcome::SignatureNotConfirmed: return kSignatureNotConfirmed;
    case UpdateOutcome::PublicKeyMalformed: return kPublicKeyMalformed;
    case UpdateOutcome::ReleaseBreaksUpdater: return kReleaseBreaksUpdater;
    case UpdateOutcome::Interrupted: return kInterrupted;
    case UpdateOutcome::Unchanged: return kNoNewRelease;
    case UpdateOutcome::NewReleaseFound: return kInstalled;
    case UpdateOutcome::DowngradeRefused: return kDowngradeRefused;
    case UpdateOutcome::SettingsMalformed: return kSettingsMalformed;
    case UpdateOutcome::AlreadyRunning: break;
    }
    return kUnexpectedError;
}
