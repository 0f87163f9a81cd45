// The loopback HTTP test server for tests running under Wine: the server is
// the same Linux program, started through Wine's own path to Linux programs.
// Such a child gets no pipe and no process handle, so it is steered by files.
#include "HttpTestServer.h"

#include "TempDir.h"
#include "platform/CommandLine.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <windows.h>

namespace testsupport {

namespace {

// The Linux path of a Windows one, from Wine's kernel32.
std::string unixPath(const std::filesystem::path& path)
{
    using Convert = char*(CDECL*)(const wchar_t*);
    const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        throw std::runtime_error("http test server: not running under Wine");
    char* text = convert(std::filesystem::absolute(path).wstring().c_str());
    if (!text)
        throw std::runtime_error("http test server: no Linux path for " + path.string());
    std::string result = text;
    HeapFree(GetProcessHeap(), 0, text);
    return result;
}

std::wstring quoted(const std::string& text) { return platform::quotedArgument(std::filesystem::path(text).wstring()); }

} // namespace

HttpTestServer::HttpTestServer(const std::string& root, bool https)
{
    if (https)
        throw std::runtime_error("http test server: no HTTPS under Wine (no certificate tool there)");
    // Requests to the loopback server must not go through a proxy that the
    // environment of a CI machine may name.
    _putenv_s("no_proxy", "127.0.0.1,localhost");
    _putenv_s("NO_PROXY", "127.0.0.1,localhost");
    const std::filesystem::path control =
        std::filesystem::temp_directory_path() / ("tavrel-http-" + std::to_string(GetCurrentProcessId()) + "-" +
                                                  std::to_string(GetTickCount64()) + "-" + std::to_string(std::rand()));
    std::filesystem::create_directories(control);
    controlFolder_ = control.string();
    writeFileBytes(control / "alive", "");
    std::wstring command = L"Z:\\usr\\bin\\python3 " + quoted(TAVREL_HTTP_TEST_SERVER) + L" --root " +
                           quoted(unixPath(root)) + L" --port-file " + quoted(unixPath(control / "port")) +
                           L" --while-exists " + quoted(unixPath(control / "alive"));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        stop();
        throw std::runtime_error("http test server: cannot start python3");
    }
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    for (int waited = 0; waited < 200 && port_ <= 0; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        port_ = std::atoi(readFileBytes(control / "port").c_str());
    }
    if (port_ <= 0) {
        stop();
        throw std::runtime_error("http test server: no port announced");
    }
}

HttpTestServer::~HttpTestServer() { stop(); }

void HttpTestServer::stop()
{
    if (controlFolder_.empty())
        return;
    std::error_code ignored;
    std::filesystem::remove_all(controlFolder_, ignored);
    controlFolder_.clear();
}

} // namespace testsupport
