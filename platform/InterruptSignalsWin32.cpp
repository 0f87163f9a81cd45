#include "InterruptSignals.h"

#include <atomic>
#include <csignal>
#include <windows.h>

namespace platform {

namespace {

// The system calls the handler on a thread of its own.
std::atomic<int> received{0};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    int signal = 0;
    switch (event) {
    case CTRL_C_EVENT: signal = SIGINT; break;
    case CTRL_BREAK_EVENT: signal = SIGBREAK; break;
    // Not the log-off of a user: it reaches every console process, whoever logs off.
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT: signal = SIGTERM; break;
    default: return FALSE;
    }
    int none = 0;
    received.compare_exchange_strong(none, signal);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process as soon as this returns. Waiting lets
        // the update stop where the folder is whole and end the process
        // itself; the system's own time limit still applies.
        ::Sleep(INFINITE);
    }
    return TRUE;
}

} // namespace

void catchInterrupts() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

int interruptSignal() { return received.load(); }

} // namespace platform
