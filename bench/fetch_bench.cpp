// Runs one fetch or one whole update the way the program does, for timing
// against reference tools in bench/fetch_bench.sh. Prints the wall time in
// seconds and the peak resident memory in KiB.
#include "app/Fetch.h"
#include "app/ProcessVariables.h"
#include "platform/HttpClient.h"
#include "platform/RecordingMessages.h"
#include "tests/support/RarWriter.h"
#ifdef TAVREL_BENCH_UPDATE
#include "app/UpdateRun.h"
#endif

#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: bench_fetch download URL DEST\n"
                 "       bench_fetch copy SRC DEST\n"
                 "       bench_fetch update URL PROGRAM_FOLDER   (downloads into the current directory)\n"
                 "       bench_fetch make-archive FOLDER STEM MIB (a stored RAR 5.0 archive of one file)\n";
    return 2;
}

long peakKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void report(const char* what, std::chrono::steady_clock::duration elapsed, bool ok)
{
    std::cout << what << " ok=" << ok << " seconds=" << std::chrono::duration<double>(elapsed).count()
              << " peak_kib=" << peakKiB() << std::endl;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 4)
        return usage();
    const std::string mode = argv[1];
    platform::RecordingMessages messages;
    const auto http = platform::makeCurlHttpClient();
    TFetch fetch(messages, *http);
    const auto start = std::chrono::steady_clock::now();

    if (mode == "download") {
        const bool ok = fetch.GetInetFile(argv[2], argv[3]);
        report("download", std::chrono::steady_clock::now() - start, ok);
        return ok ? 0 : 1;
    }
    if (mode == "copy") {
        const bool ok = fetch.GetNetFile(argv[2], argv[3]);
        report("copy", std::chrono::steady_clock::now() - start, ok);
        return ok ? 0 : 1;
    }
#ifdef TAVREL_BENCH_UPDATE
    if (mode == "update") {
        struct QuietView : UpdateView {
            void setRenewEnabled(bool) override {}
        } view;
        WorkDir = std::string(argv[3]) + "/";
        FHttp = true;
        TUpdateRun run(messages, view, *http);
        const bool ok = run.BBRenewClick(argv[2]) == UpdateOutcome::Installed;
        report("update", std::chrono::steady_clock::now() - start, ok);
        if (!ok)
            for (const auto& text : messages.texts())
                std::cerr << text << "\n";
        return ok ? 0 : 1;
    }
#endif
    if (mode == "make-archive" && argc == 5) {
        const std::uint64_t size = std::strtoull(argv[4], nullptr, 10) << 20;
        tavrel::test::RarWriter(tavrel::test::RarFormat::Rar5)
            .generated("payload.bin", size, tavrel::test::fillPattern)
            .write(argv[2], argv[3]);
        return 0;
    }
    return usage();
}
