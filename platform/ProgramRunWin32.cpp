#include "ProgramRun.h"

#include "CommandLine.h"
#include "TextCodec.h"

#include <windows.h>

namespace platform {

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit)
{
    ProgramResult result;
    std::wstring commandLine = quotedArgument(ansiToWide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quotedArgument(ansiToWide(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(ansiToWide(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &process)) {
        result.problem = "error " + std::to_string(::GetLastError());
        return result;
    }
    ::CloseHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        result.problem = "did not end within " + std::to_string(limit.count() / 1000) + " s";
    } else {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
    }
    ::CloseHandle(process.hProcess);
    return result;
}

} // namespace platform
