// Extract and test speed of libunrar.so against bsdtar on the same
// archives (stored, compressed with matches and filters, the RARLAB
// samples), and the library's peak memory. Both sides run as whole
// processes: this program runs itself with --run for the library's side.
// Run by hand:
//   build/bin/unrar_bench [work-folder] [rounds] [samples-folder]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchProcess.h"
#include "tests/support/RarWriter.h"

namespace fs = std::filesystem;
using tavrel::test::fillPattern;
using tavrel::test::Rar5Filter;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

constexpr uint64_t kFileSize = 4 << 20;

fs::path makeArchive(const fs::path& folder, int files, bool compressed)
{
    std::string stem = (compressed ? "compressed-" : "stored-") + std::to_string(files * 4) + "MiB";
    fs::path path = folder / (stem + ".rar");
    if (fs::exists(path))
        return path;
    RarWriter w(RarFormat::Rar5);
    for (int i = 0; i < files; ++i) {
        uint64_t shift = static_cast<uint64_t>(i) * kFileSize;
        std::string name = "data/file" + std::to_string(i) + ".bin";
        if (compressed) {
            std::string data(kFileSize, '\0');
            fillPattern(shift, data);
            w.compressed(name, std::move(data));
        } else {
            w.generated(name, kFileSize,
                        [shift](uint64_t offset, std::span<char> out) { fillPattern(offset + shift, out); });
        }
    }
    return w.write(folder, stem).front();
}

// Text with repeats near and far, about 4:1 for a greedy LZ coder.
std::string prose(size_t size, uint32_t seed)
{
    static const char* words[] = {"update ",  "archive ", "volume ",     "release ", "the ",     "of ",
                                  "and ",     "server ",  "department ", "file ",    "version ", "\n",
                                  "setting ", "folder ",  "user ",       "copy "};
    std::string s;
    uint32_t x = seed * 2654435761u + 1;
    while (s.size() < size) {
        x = x * 1103515245u + 12345u;
        if ((x >> 27) == 0 && s.size() > 100000) {
            const size_t from = s.size() - 1 - (x >> 5) % 100000;
            s += s.substr(from - std::min<size_t>(from, 3000), 100 + (x >> 9) % 3000);
        } else {
            s += words[(x >> 16) % 16];
            if ((x >> 12 & 15) == 0)
                s += std::to_string(x >> 20);
        }
    }
    s.resize(size);
    return s;
}

// Machine-code-like bytes with CALL/JMP operands, packed with E8E9 filters.
std::string machineCode(size_t size, uint32_t seed)
{
    std::string s = prose(size, seed);
    uint32_t x = seed;
    for (size_t i = 0; i + 5 < size; i += 37) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(0xE8 + (x >> 31));
        const uint32_t target = (x >> 8) % 65536 - static_cast<uint32_t>(i % 65536);
        std::memcpy(&s[i + 1], &target, 4);
    }
    return s;
}

// 64 MiB of 16 files packed with real matches (4 MiB dictionary), every
// fourth one machine code with E8E9 filters.
fs::path makeLzArchive(const fs::path& folder)
{
    fs::path path = folder / "compressed-lz-64MiB.rar";
    if (fs::exists(path))
        return path;
    RarWriter w(RarFormat::Rar5);
    for (int i = 0; i < 16; ++i) {
        const std::string name = "data/file" + std::to_string(i) + (i % 4 == 3 ? ".exe" : ".txt");
        if (i % 4 == 3) {
            std::vector<Rar5Filter> filters;
            for (uint64_t at = 0; at < kFileSize; at += 1 << 20)
                filters.push_back({Rar5Filter::E8E9, at, 1 << 20, 1});
            w.lzCompressed(name, machineCode(kFileSize, i + 1), filters, 5);
        } else {
            w.lzCompressed(name, prose(kFileSize, i + 1), {}, 5);
        }
    }
    return w.write(folder, "compressed-lz-64MiB").front();
}

} // namespace

int main(int argc, char** argv)
{
    const int librarySide = bench::runIfLibrarySide(argc, argv);
    if (librarySide >= 0)
        return librarySide;
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "unrar-bench";
    fs::create_directories(work);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    // Stored archives of 64 and 256 MiB; compressed ones of 64 MiB, one of
    // literal blocks only (the decoder's work without matches), one with
    // matches and filters; the RARLAB RAR 5.0 samples when given.
    std::vector<fs::path> archives;
    const char* only = std::getenv("UNRAR_BENCH_ONLY"); // substring of the archive names to run
    for (auto [files, compressed] : {std::pair{16, false}, std::pair{64, false}, std::pair{16, true}})
        archives.push_back(makeArchive(work, files, compressed));
    archives.push_back(makeLzArchive(work));
    if (argc > 3)
        for (const char* sample : {"rar5_compressed.rar", "rar5_multiple_files_solid.rar", "rar5_arm.rar",
                                   "rar5_blake2.rar", "rar5_win32.rar"})
            if (fs::exists(fs::path(argv[3]) / sample))
                archives.push_back(fs::path(argv[3]) / sample);
    for (const fs::path& archive : archives) {
        if (only && archive.filename().string().find(only) == std::string::npos)
            continue;
        fs::path out = work / "out";
        const bool sample = archive.filename().string().rfind("rar5_", 0) == 0;
        auto fresh = [&] {
            fs::remove_all(out);
            fs::create_directories(out);
        };
        std::vector<double> libX, tarX, libT, tarT;
        // bsdtar refuses rar5_win32.rar's folder entry (and says so) after
        // extracting the files: its exit code counts only for our archives.
        auto time = [&](std::vector<double>& into, std::vector<std::string> args, bool mustSucceed) {
            const bench::ProcessRun run = bench::runProcess(std::move(args));
            if (!run.ok && mustSucceed) {
                std::fprintf(stderr, "run failed\n");
                std::exit(1);
            }
            into.push_back(run.seconds);
            return run;
        };
        const std::string a = archive.string(), o = out.string();
        // Alternate the tools so that both meet the same cache and disk state.
        for (int i = 0; i < rounds; ++i) {
            fresh();
            time(libX, bench::librarySide("extract", a, o), true);
            fresh();
            time(tarX, {"bsdtar", "-xf", a, "-C", o}, !sample);
            time(libT, bench::librarySide("test", a, o), true);
            time(tarT, {"bsdtar", "-xOf", a}, !sample);
        }
        fresh();
        std::vector<double> unused;
        const long peakExtract = time(unused, bench::librarySide("extract", a, o), true).peakKiB;
        const long peakTest = time(unused, bench::librarySide("test", a, o), true).peakKiB;
        fs::remove_all(out);
        std::printf("%s (%.1f MiB), median of %d, whole processes\n", archive.filename().c_str(),
                    static_cast<double>(fs::file_size(archive)) / (1 << 20), rounds);
        std::printf("  extract: library %.3f s, bsdtar -xf %.3f s, library/bsdtar %.2f\n", bench::median(libX),
                    bench::median(tarX), bench::median(libX) / bench::median(tarX));
        std::printf("  test:    library %.3f s, bsdtar -xOf %.3f s, library/bsdtar %.2f\n", bench::median(libT),
                    bench::median(tarT), bench::median(libT) / bench::median(tarT));
        std::printf("  peak RSS: extract %ld KiB, test %ld KiB\n", peakExtract, peakTest);
        if (std::getenv("UNRAR_BENCH_VERBOSE")) {
            for (int i = 0; i < rounds; ++i)
                std::printf("    round %d: extract %.3f / %.3f, test %.3f / %.3f\n", i, libX[i], tarX[i], libT[i],
                            tarT[i]);
        }
    }
    return 0;
}
