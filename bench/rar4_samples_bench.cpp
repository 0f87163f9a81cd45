// Test and extract speed of libunrar.so's RAR 2.9 decoder against bsdtar on
// real RAR 4.x archives, both as whole processes spawned without a shell
// (the library's side is this program started with --run). Run by hand:
//   build/bin/rar4_samples_bench SAMPLES-FOLDER [work-folder] [rounds]
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchProcess.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    const int librarySide = bench::runIfLibrarySide(argc, argv);
    if (librarySide >= 0)
        return librarySide;
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
        if (!bench::runProcess({"bsdtar", "-xOf", a}).ok) {
            std::printf("%s: bsdtar fails on it, not timed\n", name);
            continue;
        }
        bool ok = true;
        std::vector<double> libX, tarX, libT, tarT;
        auto time = [&ok](std::vector<double>& into, std::vector<std::string> args) {
            const bench::ProcessRun run = bench::runProcess(std::move(args));
            ok = ok && run.ok;
            into.push_back(run.seconds);
        };
        for (int i = 0; i < rounds; ++i) {
            fresh();
            time(libX, bench::librarySide("extract", a, o));
            fresh();
            time(tarX, {"bsdtar", "-xf", a, "-C", o});
            time(libT, bench::librarySide("test", a, o));
            time(tarT, {"bsdtar", "-xOf", a});
        }
        if (!ok) {
            std::printf("%s: a run failed\n", name);
            return 1;
        }
        const double x = bench::median(libX) / bench::median(tarX), t = bench::median(libT) / bench::median(tarT);
        std::printf("%s, median of %d\n", name, rounds);
        std::printf("  extract: library %.4f s, bsdtar -xf %.4f s, library/bsdtar %.2f\n", bench::median(libX),
                    bench::median(tarX), x);
        std::printf("  test:    library %.4f s, bsdtar -xOf %.4f s, library/bsdtar %.2f\n", bench::median(libT),
                    bench::median(tarT), t);
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
