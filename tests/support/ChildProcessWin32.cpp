#include "tests/support/ChildProcess.h"

#include "platform/CommandLine.h"
#include "tests/support/TempDir.h"

#include <csignal>
#include <system_error>
#include <windows.h>

namespace testsupport {

namespace {

constexpr int kSignalBase = 128;
constexpr int kKilled = kSignalBase + 9;

// An inheritable handle of `file` (or of NUL), for the child's standard streams.
HANDLE openStream(const std::filesystem::path& file, bool write)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const std::wstring name = file.empty() ? L"NUL" : file.wstring();
    return CreateFileW(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

int ChildResult::exitCode() const { return status >= kSignalBase ? -1 : status; }

bool ChildResult::killedBy(int signal) const { return status == kSignalBase + signal; }

ChildProcess::ChildProcess(const Start& start) : start_(start)
{
    std::wstring command = platform::quotedArgument(start.program.wstring());
    for (const std::string& argument : start.arguments)
        command += L" " + platform::quotedArgument(std::filesystem::path(argument).wstring());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = openStream({}, false);
    startup.hStdOutput = start.out.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : openStream(start.out, true);
    startup.hStdError = start.err.empty() ? GetStdHandle(STD_ERROR_HANDLE) : openStream(start.err, true);
    PROCESS_INFORMATION process{};
    const std::wstring folder = start.folder.wstring();
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        folder.empty() ? nullptr : folder.c_str(), &startup, &process);
    const DWORD error = GetLastError();
    CloseHandle(startup.hStdInput);
    if (!start.out.empty())
        CloseHandle(startup.hStdOutput);
    if (!start.err.empty())
        CloseHandle(startup.hStdError);
    if (!started)
        throw std::system_error(static_cast<int>(error), std::system_category(), "CreateProcess");
    CloseHandle(process.hThread);
    process_ = process.hProcess;
    pid_ = static_cast<pid_t>(process.dwProcessId);
}

ChildProcess::~ChildProcess()
{
    if (process_) {
        TerminateProcess(process_, kKilled);
        WaitForSingleObject(process_, INFINITE);
        CloseHandle(process_);
    }
}

// Windows has no signals to send to another process: every one ends it at once.
void ChildProcess::signal(int signal) const { TerminateProcess(process_, static_cast<UINT>(kSignalBase + signal)); }

ChildResult ChildProcess::wait(std::chrono::milliseconds limit)
{
    ChildResult result;
    if (WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        TerminateProcess(process_, kKilled);
        WaitForSingleObject(process_, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = -1;
    readOutput(result);
    return result;
}

} // namespace testsupport
