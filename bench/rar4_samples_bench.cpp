// Test and extract speed of libunrar.so's RAR 2.9 decoder against bsdtar on
// real RAR 4.x archives, both as whole processes: the library runs in a
// forked child, bsdtar is spawned directly. Run by hand:
//   build/bin/rar4_samples_bench SAMPLES-FOLDER [work-folder] [rounds]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "unrar/include/unrar_api.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

bool runLibrary(const fs::path& archive, int operation, const fs::path& dest)
{
    std::string name = archive.string();
    std::string destPath = dest.string();
    RAROpenArchiveDataEx open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    RAR_HANDLE h = RAROpenArchiveEx(&open);
    if (!h)
        return false;
    RARHeaderDataEx header;
    bool ok = true;
    for (;;) {
        std::memset(&header, 0, sizeof header);
        int r = RARReadHeaderEx(h, &header);
        if (r == ERAR_END_ARCHIVE)
            break;
        // Links are refused on extraction by design; their data is still tested.
        int p = r == 0 ? RARProcessFile(h, operation, destPath.data(), nullptr) : r;
        if (p != 0 && !(p == ERAR_ECREATE && operation == RAR_EXTRACT)) {
            ok = false;
            break;
        }
    }
    RARCloseArchive(h);
    return ok;
}

// The library in a child process, so that both tools pay for a process.
bool inChild(const std::function<bool()>& run)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(run() ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// bsdtar with its standard output sent to /dev/null.
bool bsdtar(std::vector<std::string> args)
{
    args.insert(args.begin(), "bsdtar");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int r = posix_spawnp(&pid, "bsdtar", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (r != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double seconds(const std::function<bool()>& run, bool& ok)
{
    auto start = std::chrono::steady_clock::now();
    ok = ok && run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SAMPLES-FOLDER [work-folder] [rounds]\n", argv[0]);
        return 2;
    }
    const fs::path samples = argv[1];
    const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "rar4-bench";
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 11;
    fs::create_directories(work);
    const fs::path out = work / "out";
    auto fresh = [&] {
        fs::remove_all(out);
        fs::create_directories(out);
    };
    double ratioX = 1, ratioT = 1;
    int counted = 0;
    for (const char* name :
         {"rar_binary_data.rar", "rar_compress_best.rar", "rar_filter.rar", "rar_ppmd_lzss_conversion.rar"}) {
        const fs::path archive = samples / name;
        if (!fs::exists(archive))
            continue;
        const std::string a = archive.string(), o = out.string();
        // Only where bsdtar's own CRC checks pass is its time a yardstick.
        fresh();
        if (!bsdtar({"-xOf", a})) {
            std::printf("%s: bsdtar fails on it, not timed\n", name);
            continue;
        }
        bool ok = true;
        std::vector<double> libX, tarX, libT, tarT;
        for (int i = 0; i < rounds; ++i) {
            fresh();
            libX.push_back(seconds([&] { return inChild([&] { return runLibrary(archive, RAR_EXTRACT, out); }); }, ok));
            fresh();
            tarX.push_back(seconds([&] { return bsdtar({"-xf", a, "-C", o}); }, ok));
            libT.push_back(seconds([&] { return inChild([&] { return runLibrary(archive, RAR_TEST, out); }); }, ok));
            tarT.push_back(seconds([&] { return bsdtar({"-xOf", a}); }, ok));
        }
        if (!ok) {
            std::printf("%s: a run failed\n", name);
            return 1;
        }
        const double x = median(libX) / median(tarX), t = median(libT) / median(tarT);
        std::printf("%s, median of %d\n", name, rounds);
        std::printf("  extract: library %.4f s, bsdtar -xf %.4f s, library/bsdtar %.2f\n", median(libX), median(tarX),
                    x);
        std::printf("  test:    library %.4f s, bsdtar -xOf %.4f s, library/bsdtar %.2f\n", median(libT), median(tarT),
                    t);
        ratioX *= x;
        ratioT *= t;
        ++counted;
    }
    fs::remove_all(out);
    if (counted)
        std::printf("geometric mean library/bsdtar: extract %.2f, test %.2f\n", std::pow(ratioX, 1.0 / counted),
                    std::pow(ratioT, 1.0 / counted));
    return 0;
}
