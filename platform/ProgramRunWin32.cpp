#include "ProgramRun.h"

#include "TextCodec.h"

#include <windows.h>

namespace platform {

namespace {

// One argument as the C runtime splits a command line: quoted, with the
// backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

} // namespace

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         std::chrono::milliseconds limit)
{
    ProgramResult result;
    std::wstring commandLine = quoted(ansiToWide(program));
    for (const std::string& argument : arguments)
        commandLine += L" " + quoted(ansiToWide(argument));
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
