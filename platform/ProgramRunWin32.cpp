#include "ProgramRun.h"

#include "CommandLine.h"
#include "TextCodec.h"

#include <windows.h>

#include <memory>

namespace platform {

namespace {

// Closes a handle on every way out.
struct HandleCloser {
    void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

} // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit)
{
    ProgramResult result;
    // Whatever the program starts belongs to the job and ends when the job's
    // handle closes: nothing it started outlives the check.
    const Handle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job.get()) {
        result.problem = "error " + std::to_string(::GetLastError());
        return result;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);

    std::wstring commandLine = quotedArgument(ansiToWide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quotedArgument(ansiToWide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!::CreateProcessW(ansiToWide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &startup, &process)) {
        result.problem = "error " + std::to_string(::GetLastError());
        return result;
    }
    const Handle processHandle(process.hProcess);
    const Handle thread(process.hThread);
    if (!::AssignProcessToJobObject(job.get(), process.hProcess)) {
        result.problem = "error " + std::to_string(::GetLastError());
        ::TerminateProcess(process.hProcess, 1);
        return result;
    }
    ::ResumeThread(process.hThread);
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        ::TerminateJobObject(job.get(), 1);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        result.problem = "did not end within " + std::to_string(limit.count() / 1000) + " s";
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
    }
    return result;
}

} // namespace platform
