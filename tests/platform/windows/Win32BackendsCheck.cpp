// Runs the Win32 backends of the platform layer against the real system
// calls (under Wine on Linux): scripts/check-windows --run builds it with
// the MinGW cross compiler. No test framework exists for that target, so
// each check prints its own line; the exit code counts the failures.
#include "platform/DiskSpace.h"
#include "platform/Durability.h"
#include "platform/FileLock.h"
#include "platform/InterruptSignals.h"
#include "platform/PinnedFile.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>
#include <windows.h>

namespace fs = std::filesystem;
using platform::FileLock;

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    std::printf("%s  %s\n", ok ? "ok    " : "FAILED", what);
    if (!ok)
        ++failures;
}

bool throwsSystemError(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::system_error&) {
        return true;
    }
    return false;
}

void write(const fs::path& file, const std::string& bytes) { std::ofstream(file, std::ios::binary) << bytes; }

std::string read(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void fileLock(const fs::path& dir)
{
    const std::string lockFile = (dir / "lock").string();
    {
        const FileLock first(lockFile);
        check(first.state() == FileLock::State::Held, "FileLock: the first holder gets the lock");
        const FileLock second(lockFile);
        check(second.state() == FileLock::State::Busy, "FileLock: a second holder is refused at once");
        check(throwsSystemError([&] { fs::remove(lockFile); }) && fs::exists(lockFile),
              "FileLock: the held lock file cannot be deleted");
    }
    const FileLock again(lockFile);
    check(again.state() == FileLock::State::Held, "FileLock: free again once released");
    const FileLock nowhere((dir / "absent" / "lock").string());
    check(nowhere.state() == FileLock::State::Failed && nowhere.error(), "FileLock: no folder is a failure");
}

void diskSpace(const fs::path& dir)
{
    const auto free = platform::freeBytes(dir.string() + "\\");
    check(free && *free > 0, "freeBytes: the folder's volume has free space");
    check(!platform::freeBytes((dir / "absent").string()), "freeBytes: nothing for a missing folder");
}

void durability(const fs::path& dir)
{
    const fs::path file = dir / "data.bin";
    const fs::path readOnly = dir / "read-only.bin";
    write(file, "data");
    write(readOnly, "kept read-only");
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    check(!throwsSystemError([&] {
        platform::syncFiles({file.string(), readOnly.string()});
    }),
          "syncFiles: plain and read-only files");
    check(::GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY,
          "syncFiles: the read-only attribute is put back");
    ::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    check(throwsSystemError([&] { platform::syncFiles({(dir / "absent.bin").string()}); }),
          "syncFiles: a missing file throws");
    check(!throwsSystemError([&] { platform::syncFolder(dir.string()); }), "syncFolder: an existing folder");
    check(throwsSystemError([&] { platform::syncFolder((dir / "absent").string()); }),
          "syncFolder: a missing folder throws");
}

void pinnedFile(const fs::path& dir)
{
    const fs::path archive = dir / "NewExe.zip";
    write(archive, "checked");
    platform::PinnedFile pinned(archive.string());
    check(pinned.open(), "PinnedFile: opened");
    HANDLE writer = ::CreateFileW(archive.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
    check(writer == INVALID_HANDLE_VALUE, "PinnedFile: nobody can open it for writing");
    if (writer != INVALID_HANDLE_VALUE)
        ::CloseHandle(writer);
    write(dir / "other.zip", "another");
    check(!::MoveFileExW((dir / "other.zip").c_str(), archive.c_str(), MOVEFILE_REPLACE_EXISTING),
          "PinnedFile: nobody can replace its name");
    check(read(pinned.readPath()) == "checked", "PinnedFile: read by its name while held");
    check(pinned.unchanged(), "PinnedFile: unchanged");
    check(pinned.removeName() && !fs::exists(archive), "PinnedFile: removeName deletes it");
    check(!pinned.open() && !pinned.removeName(), "PinnedFile: no longer held");

    check(!platform::PinnedFile((dir / "absent.zip").string()).open(), "PinnedFile: a missing file is not open");
}

void interrupts()
{
    platform::catchInterrupts();
    check(platform::interruptSignal() == 0, "interrupts: none yet");
    if (!::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) {
        std::printf("skipped Ctrl-C: no console to send it to (error %lu)\n", ::GetLastError());
        return;
    }
    for (int i = 0; i < 100 && platform::interruptSignal() == 0; ++i)
        ::Sleep(20);
    check(platform::interruptSignal() == SIGINT, "interrupts: Ctrl-C is SIGINT and does not end the process");
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path dir = fs::path(temp) / ("tavrel win32 check " + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(dir);
    fileLock(dir);
    diskSpace(dir);
    durability(dir);
    pinnedFile(dir);
    interrupts();
    std::error_code ec;
    fs::remove_all(dir, ec);
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
