// One real update in a process of its own, for the tests that kill or
// signal an updater in the middle of its work. It holds the update lock as
// the front ends do, catches SIGINT and SIGTERM as the command line does and
// counts the steps: fetch progress ("fetch"), unpacked blocks ("unpack") and
// the install's steps. Each step is printed as "step N NAME" before the
// action is taken at it.
//
//   update_child PROGRAM_FOLDER SOURCE AT ACTION
//     SOURCE  a file path (copy mode) or an http:// URL (downloaded into the
//             current directory)
//     AT      a step number (1 = first), a step name (its first occurrence),
//             or 0 for none
//     ACTION  kill (SIGKILL), INT or TERM; on Windows kill is
//             TerminateProcess with the exit code 128 + 9, INT a Ctrl-C and
//             TERM a Ctrl-Break, sent to a console of the child's own
// Exit code: the update's outcome as its number in UpdateOutcome (0
// installed, 6 interrupted), 8 when another updater holds the folder or the lock cannot be taken.
#include "platform/InterruptSignals.h"
#include "platform/RecordingMessages.h"
#include "update/UpdateRun.h"
#include "update/UpdateSession.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifdef _WIN32
// Windows has console events instead of signals: the child ends itself or
// sends the event to its console, whose handler runs on a thread of its own.
void act(const std::string& action)
{
    if (action == "kill")
        ::TerminateProcess(::GetCurrentProcess(), 128 + 9);
    if (!::GenerateConsoleCtrlEvent(action == "INT" ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0)) {
        std::cout << "event not sent: error " << ::GetLastError() << std::endl;
        std::exit(65);
    }
    for (int waited = 0; waited < 500 && platform::interruptSignal() == 0; ++waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A console of the child's own: the event must reach no other process,
// and a child started without a console could be sent none.
void ownConsole()
{
    // The console's host process may outlive the child for a moment: it
    // must hold neither its output files nor its folder, which the test removes.
    for (const DWORD stream : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        ::SetHandleInformation(::GetStdHandle(stream), HANDLE_FLAG_INHERIT, 0);
    wchar_t folder[MAX_PATH];
    wchar_t system[MAX_PATH];
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, folder);
    if (::GetSystemDirectoryW(system, MAX_PATH))
        ::SetCurrentDirectoryW(system);
    ::FreeConsole();
    ::AllocConsole();
    if (length > 0 && length < MAX_PATH)
        ::SetCurrentDirectoryW(folder);
}
#else
void act(const std::string& action) { std::raise(action == "kill" ? SIGKILL : action == "INT" ? SIGINT : SIGTERM); }
void ownConsole() {}
#endif

class Steps {
public:
    Steps(std::string at, std::string action) : at_(std::move(at)), action_(std::move(action)) {}

    void operator()(std::string_view name)
    {
        ++count_;
        std::cout << "step " << count_ << ' ' << name << std::endl;
        const bool here = at_ == std::to_string(count_) || (!done_ && at_ == name);
        if (!here)
            return;
        done_ = true;
        act(action_);
    }

private:
    std::string at_;
    std::string action_;
    int count_ = 0;
    bool done_ = false;
};

struct ChildView : UpdateView {
    Steps* steps = nullptr;
    void setRenewEnabled(bool) override {}
    bool fetchProgress(std::uint64_t, std::optional<std::uint64_t>) override
    {
        (*steps)("fetch");
        return true;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::cerr << "usage: update_child PROGRAM_FOLDER SOURCE AT ACTION\n";
        return 64;
    }
    const std::string program = argv[1];
    const std::string source = argv[2];
    ownConsole();
    platform::catchInterrupts();
    platform::RecordingMessages messages;
    messages.onMessage = [](const platform::RecordedMessage& m) { std::cout << "message " << m.text << std::endl; };

    UpdateSession session(program, messages);
    if (session.busy() || session.failed())
        return 8;
    UpdateSetup setup;
    setup.programFolder = program + "/";
    setup.http = source.rfind("http://", 0) == 0;

    Steps steps(argv[3], argv[4]);
    ChildView view;
    view.steps = &steps;
    const auto http = platform::makeHttpClient();
    TUpdateRun run(messages, view, *http);
    run.Interrupted = [] { return platform::interruptSignal() != 0; };
    run.OnStep = [&steps](std::string_view name) { steps(name); };
    return static_cast<int>(run.BBRenewClick(setup, source));
}
