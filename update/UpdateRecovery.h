#pragma once
// What a start of the program does in the program folder before anything
// else touches it: an install that a crash or a power cut interrupted is
// undone (its journal has no commit mark) or finished (it has one), and what
// an interrupted fetch or unpacking left behind is removed. Runs only under
// the update lock.
#include "update/UpdateFolder.h"

#include <string>

enum class RecoveryOutcome { NothingToDo, RolledBack, Completed };

// `currentDirectory`: where downloads land; its leftovers are removed only
// when it is the program folder itself, since others may download there.
RecoveryOutcome recoverInterruptedUpdate(const UpdateFolder& folder, const std::filesystem::path& currentDirectory);

// The one-line report of a recovery; empty for NothingToDo.
std::u16string recoveryMessage(RecoveryOutcome outcome);
