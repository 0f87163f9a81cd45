#pragma once
// The dialog program between its application object and its end: the update
// lock of the program folder, the data module, the update dialog and the
// message loop. Apart from main so that its start can be driven in tests.
#include "platform/Messages.h"

#include <filesystem>

// Runs the dialog program for the program in `programFolder`, every message
// box through `messages`; returns the program's exit code. A second updater
// in the folder is told so and ends before the database is connected or
// anything in the folder is touched. Needs a QApplication.
int runUpdateDialog(platform::Messages& messages, const std::filesystem::path& programFolder);
