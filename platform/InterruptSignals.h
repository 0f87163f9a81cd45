#pragma once
// Ctrl-C and the request to terminate, for the command-line front end: they
// set a flag that long operations poll, so that an update stops at a point
// where it can leave the program folder whole, instead of dying mid-step.
namespace platform {

// From now on SIGINT and SIGTERM only set the flag. Windows: Ctrl-C
// (SIGINT), Ctrl-Break (SIGBREAK), closing the console window and shutting
// the system down (SIGTERM); for the last two the process is held until it
// ends itself, within the system's time limit.
void catchInterrupts();
// Which signal arrived first; 0 while none did.
int interruptSignal();

} // namespace platform
