// Extract and test speed of libunrar.so against bsdtar on the same stored
// archive, and the library's peak memory. Run by hand:
//   build/bin/unrar_bench [work-folder]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/RarWriter.h"
#include "unrar/include/unrar_api.h"

namespace fs = std::filesystem;
using tavrel::test::fillPattern;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

constexpr uint64_t kFileSize = 4 << 20;

fs::path makeArchive(const fs::path& folder, int files, bool compressed)
{
    std::string stem = (compressed ? "compressed-" : "stored-") + std::to_string(files * 4) + "MiB";
    fs::path path = folder / (stem + ".rar");
    if (fs::exists(path)) return path;
    RarWriter w(RarFormat::Rar5);
    for (int i = 0; i < files; ++i) {
        uint64_t shift = static_cast<uint64_t>(i) * kFileSize;
        std::string name = "data/file" + std::to_string(i) + ".bin";
        if (compressed) {
            std::string data(kFileSize, '\0');
            fillPattern(shift, data);
            w.compressed(name, std::move(data));
        } else {
            w.generated(name, kFileSize, [shift](uint64_t offset, std::span<char> out) { fillPattern(offset + shift, out); });
        }
    }
    return w.write(folder, stem).front();
}

int RAR_CALLBACK countData(unsigned msg, RAR_LPARAM userData, RAR_LPARAM, RAR_LPARAM p2)
{
    if (msg == UCM_PROCESSDATA) *reinterpret_cast<uint64_t*>(userData) += static_cast<uint64_t>(p2);
    return 1;
}

// Every entry through the library; returns false on any error.
bool runLibrary(const fs::path& archive, int operation, const fs::path& dest)
{
    std::string name = archive.string();
    std::string destPath = dest.string();
    uint64_t bytes = 0;
    RAROpenArchiveDataEx open{};
    open.ArcName = name.data();
    open.OpenMode = RAR_OM_EXTRACT;
    open.Callback = countData;
    open.UserData = reinterpret_cast<RAR_LPARAM>(&bytes);
    RAR_HANDLE h = RAROpenArchiveEx(&open);
    if (!h) return false;
    RARHeaderDataEx header;
    bool ok = true;
    for (;;) {
        std::memset(&header, 0, sizeof header);
        int r = RARReadHeaderEx(h, &header);
        if (r == ERAR_END_ARCHIVE) break;
        if (r != 0 || RARProcessFile(h, operation, destPath.data(), nullptr) != 0) {
            ok = false;
            break;
        }
    }
    RARCloseArchive(h);
    return ok;
}

double seconds(const std::function<bool()>& run)
{
    auto start = std::chrono::steady_clock::now();
    if (!run()) {
        std::fprintf(stderr, "run failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Peak resident memory of `run` in a child process, in KiB.
long peakKiB(const std::function<bool()>& run)
{
    pid_t pid = fork();
    if (pid == 0) _exit(run() ? 0 : 1);
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    return usage.ru_maxrss;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

}  // namespace

int main(int argc, char** argv)
{
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "unrar-bench";
    fs::create_directories(work);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    // Stored archives of 64 and 256 MiB, and a compressed one of 64 MiB
    // (literal blocks: the decoder's work without matches).
    for (auto [files, compressed] : {std::pair{16, false}, std::pair{64, false}, std::pair{16, true}}) {
        fs::path archive = makeArchive(work, files, compressed);
        fs::path out = work / "out";
        auto fresh = [&] {
            fs::remove_all(out);
            fs::create_directories(out);
        };
        std::vector<double> libX, tarX, libT, tarT;
        // Alternate the tools so that both meet the same cache and disk state.
        for (int i = 0; i < rounds; ++i) {
            fresh();
            libX.push_back(seconds([&] { return runLibrary(archive, RAR_EXTRACT, out); }));
            fresh();
            tarX.push_back(seconds([&] { return shell("bsdtar -xf '" + archive.string() + "' -C '" + out.string() + "'"); }));
            libT.push_back(seconds([&] { return runLibrary(archive, RAR_TEST, out); }));
            tarT.push_back(seconds([&] { return shell("bsdtar -xOf '" + archive.string() + "' >/dev/null"); }));
        }
        fresh();
        long peakExtract = peakKiB([&] { return runLibrary(archive, RAR_EXTRACT, out); });
        long peakTest = peakKiB([&] { return runLibrary(archive, RAR_TEST, out); });
        fs::remove_all(out);
        std::printf("%d MiB %s RAR 5.0, %d files, median of %d\n", files * 4, compressed ? "compressed" : "stored",
                    files, rounds);
        std::printf("  extract: library %.3f s, bsdtar -xf %.3f s, library/bsdtar %.2f\n", median(libX), median(tarX),
                    median(libX) / median(tarX));
        std::printf("  test:    library %.3f s, bsdtar -xOf %.3f s, library/bsdtar %.2f\n", median(libT), median(tarT),
                    median(libT) / median(tarT));
        std::printf("  peak RSS: extract %ld KiB, test %ld KiB\n", peakExtract, peakTest);
        if (std::getenv("UNRAR_BENCH_VERBOSE")) {
            for (int i = 0; i < rounds; ++i)
                std::printf("    round %d: extract %.3f / %.3f, test %.3f / %.3f\n", i, libX[i], tarX[i], libT[i], tarT[i]);
        }
    }
    return 0;
}
