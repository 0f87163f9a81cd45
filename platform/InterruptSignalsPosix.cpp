#include "InterruptSignals.h"

#include <csignal>

namespace platform {

namespace {

// A signal handler may only store to a lock-free atomic object.
volatile std::sig_atomic_t received = 0;

extern "C" void onInterrupt(int signal)
{
    if (received == 0)
        received = signal;
}

} // namespace

void catchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int interruptSignal() { return received; }

} // namespace platform
