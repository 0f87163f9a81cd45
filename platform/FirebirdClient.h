#pragma once
// The Firebird client library that the database driver is linked against.
// On Windows it is not part of the system: a program takes fbclient.dll from
// its own folder, else from the Firebird installed on the machine. Loading it
// here, by its full path, before the driver is loaded makes the driver use
// that copy; a missing library is then named instead of the driver's
// "Driver not loaded".
#include <string>

namespace platform {

// Loads the client library once per process and keeps it loaded. Returns an
// empty text when it is there, else why not, naming the places looked at.
// On Linux the client library is the system's: nothing to do.
std::string loadFirebirdClient();

} // namespace platform
