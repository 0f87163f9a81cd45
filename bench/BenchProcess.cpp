#include "bench/BenchProcess.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>

#include "unrar/include/unrar_api.h"

extern char** environ;

namespace bench {
namespace {

int RAR_CALLBACK countData(unsigned msg, RAR_LPARAM userData, RAR_LPARAM, RAR_LPARAM p2)
{
    if (msg == UCM_PROCESSDATA)
        *reinterpret_cast<unsigned long long*>(userData) += static_cast<unsigned long long>(p2);
    return 1;
}

// Every entry through the library, with a data callback as an application
// has. Links are refused on extraction by design; their data is still tested.
bool walkArchive(const std::string& archive, int operation, const std::string& folder, const char* password)
{
    std::string name = archive, destPath = folder;
    unsigned long long bytes = 0;
    RAROpenArchiveDataEx open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    open.Callback = countData;
    open.UserData = reinterpret_cast<RAR_LPARAM>(&bytes);
    RAR_HANDLE h = RAROpenArchiveEx(&open);
    if (!h)
        return false;
    if (password)
        RARSetPassword(h, const_cast<char*>(password));
    RARHeaderDataEx header;
    bool ok = true;
    for (;;) {
        std::memset(&header, 0, sizeof header);
        const int r = RARReadHeaderEx(h, &header);
        if (r == ERAR_END_ARCHIVE)
            break;
        const int p = r == 0 ? RARProcessFile(h, operation, destPath.data(), nullptr) : r;
        if (p != 0 && !(p == ERAR_ECREATE && operation == RAR_EXTRACT)) {
            ok = false;
            break;
        }
    }
    RARCloseArchive(h);
    return ok;
}

} // namespace

ProcessRun runProcess(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid;
    const int r = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0)
        return run;
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peakKiB = usage.ru_maxrss;
    return run;
}

std::string selfPath() { return std::filesystem::canonical("/proc/self/exe").string(); }

std::vector<std::string> librarySide(const std::string& operation, const std::string& archive,
                                     const std::string& folder, const std::string& password)
{
    std::vector<std::string> args{selfPath(), "--run", operation, archive, folder};
    if (!password.empty())
        args.push_back(password);
    return args;
}

int runIfLibrarySide(int argc, char** argv)
{
    if ((argc != 5 && argc != 6) || std::strcmp(argv[1], "--run") != 0)
        return -1;
    const int operation = std::strcmp(argv[2], "test") == 0 ? RAR_TEST : RAR_EXTRACT;
    return walkArchive(argv[3], operation, argv[4], argc == 6 ? argv[5] : nullptr) ? 0 : 1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench
