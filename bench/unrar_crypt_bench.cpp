// What decryption costs: extracting and testing a 64 MiB stored archive
// whose entries are encrypted against the same archive in clear, both
// through libunrar.so as whole processes, alternated round by round; and,
// on its own, the key derivation every encrypted archive pays once per
// salt. Run by hand:
//   build/bin/unrar_crypt_bench [work-folder] [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchProcess.h"
#include "tests/support/RarWriter.h"
#include "unrar/src/crypt/Kdf.h"

namespace fs = std::filesystem;
using tavrel::test::fillPattern;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

constexpr uint64_t kFileSize = 4 << 20;
constexpr int kFiles = 16;
const std::string kPassword = "bench password";

// 16 stored files of 4 MiB, the same bytes in every variant.
fs::path makeArchive(const fs::path& folder, RarFormat format, bool encrypted)
{
    const std::string stem = std::string(format == RarFormat::Rar4 ? "rar4" : "rar5") + "-stored-64MiB" +
                             (encrypted ? "-encrypted" : "-clear");
    const fs::path path = folder / (stem + ".rar");
    if (fs::exists(path))
        return path;
    RarWriter w(format);
    for (int i = 0; i < kFiles; ++i) {
        const uint64_t shift = static_cast<uint64_t>(i) * kFileSize;
        w.generated("data/file" + std::to_string(i) + ".bin", kFileSize,
                    [shift](uint64_t offset, std::span<char> out) { fillPattern(offset + shift, out); });
        if (encrypted)
            w.encrypted();
    }
    if (encrypted)
        w.password(kPassword);
    return w.write(folder, stem).front();
}

// Median seconds of one derivation, in this process.
double derivationSeconds(RarFormat format, int rounds)
{
    std::vector<double> times;
    const uint8_t salt[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (format == RarFormat::Rar4) {
            unrar::crypt::Rar3Key k;
            unrar::crypt::deriveRar3(kPassword, salt, k);
        } else {
            unrar::crypt::Rar5Key k;
            unrar::crypt::deriveRar5(kPassword, salt, 15, k);
        }
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return bench::median(times);
}

} // namespace

int main(int argc, char** argv)
{
    const int librarySide = bench::runIfLibrarySide(argc, argv);
    if (librarySide >= 0)
        return librarySide;
    const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "unrar-crypt-bench";
    fs::create_directories(work);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    for (RarFormat format : {RarFormat::Rar5, RarFormat::Rar4}) {
        const std::string clear = makeArchive(work, format, false).string();
        const std::string encrypted = makeArchive(work, format, true).string();
        const fs::path out = work / "out";
        const std::string o = out.string();
        auto time = [&](std::vector<double>& into, std::vector<std::string> args) {
            const bench::ProcessRun run = bench::runProcess(std::move(args));
            if (!run.ok) {
                std::fprintf(stderr, "run failed\n");
                std::exit(1);
            }
            into.push_back(run.seconds);
        };
        auto fresh = [&] {
            fs::remove_all(out);
            fs::create_directories(out);
        };
        std::vector<double> clearX, cryptX, clearT, cryptT;
        for (int i = 0; i < rounds; ++i) {
            fresh();
            time(clearX, bench::librarySide("extract", clear, o));
            fresh();
            time(cryptX, bench::librarySide("extract", encrypted, o, kPassword));
            time(clearT, bench::librarySide("test", clear, o));
            time(cryptT, bench::librarySide("test", encrypted, o, kPassword));
        }
        fs::remove_all(out);
        // One derivation per archive: all entries share the writer's salt.
        const double kdf = derivationSeconds(format, rounds);
        const char* name = format == RarFormat::Rar4 ? "RAR 4.x (AES-128)" : "RAR 5.0 (AES-256, 2^15 rounds)";
        std::printf("%s, 64 MiB stored, 16 files, median of %d, whole processes\n", name, rounds);
        std::printf("  key derivation alone: %.4f s\n", kdf);
        for (auto [what, c, e] : {std::tuple{"extract", &clearX, &cryptX}, std::tuple{"test", &clearT, &cryptT}}) {
            const double mc = bench::median(*c), me = bench::median(*e);
            std::printf("  %-7s clear %.3f s, encrypted %.3f s: %.3f; without the derivation %.3f\n", what, mc, me,
                        me / mc, (me - kdf) / mc);
        }
    }
    return 0;
}
