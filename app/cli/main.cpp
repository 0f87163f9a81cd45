// tavrel-update: runs one update of the Tavrel workstation program without a
// window, for administrators who roll out releases by script. Same settings,
// parameter table and update run as the dialog; messages go to the terminal.
#include "app/ExitCodes.h"
#include "app/Startup.h"
#include "app/cli/ScramblePassword.h"
#include "app/fleet/FleetReport.h"
#include "datamodule/MDm.h"
#include "platform/ConsoleMessages.h"
#include "platform/ConsoleText.h"
#include "platform/ExceptionReport.h"
#include "platform/ExecutablePath.h"
#include "platform/FileOps.h"
#include "platform/HttpClient.h"
#include "platform/InterruptSignals.h"
#include "platform/TextCodec.h"
#include "update/SettingsNumber.h"
#include "update/UpdateFolder.h"
#include "update/UpdateRun.h"
#include "update/UpdateSession.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

std::string code(ExitCode value) { return std::to_string(value); }

// The exit codes of the table, each meaning wrapped below the first line's
// code, as the rest of the text is set.
std::string exitCodeLines()
{
    constexpr std::size_t width = 76;
    constexpr std::string_view indent = "      ";
    std::string lines;
    for (const ExitCodeMeaning& row : kExitCodes) {
        std::string line = "  " + code(row.code);
        line.resize(indent.size(), ' ');
        std::string_view rest = row.meaning;
        bool first = true;
        while (!rest.empty()) {
            const std::size_t space = rest.find(' ');
            const std::string_view word = rest.substr(0, space);
            if (!first && line.size() + 1 + word.size() > width) {
                lines += line + "\n";
                line = indent;
                first = true;
            }
            line += (first ? "" : " ") + std::string(word);
            first = false;
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        }
        lines += line + "\n";
    }
    return lines;
}

std::string helpText()
{
    return R"(Usage: tavrel-update [--if-changed | --check]
       tavrel-update --help | --version | --scramble-password
       tavrel-update --fleet-status [--days N]

Runs one update of the Tavrel program in this executable's folder, without
any window: the same steps as the button "Выполнить" of the update dialog.
With --if-changed it first asks the release's source whether the release
differs from the one installed last, and does nothing more when it does
not: the run to start at every logon of a workstation.

  1. Reads the connection of section [LoginU] of "Tavrel.INI" beside this
     executable and connects to the working-time database. A failed
     connection is not followed by the connection dialog; the message says
     whether the section or its Database key is missing.
  2. Reads the update location (NEWVERSIONPASS) and the fetch mode
     (DOUPDATE: "1" downloads over HTTP, anything else copies the file)
     from the table TAVREL_PARAMS. With DOUPDATE=1 the location must be an
     http:// or https:// URL (one without a scheme gets "http://"); a
     file:// or other location is refused by name.
  3. Fetches the release archive: an HTTP download into "NewExe.zip" in the
     current directory, or a copy of the file into "NewExe.zip" beside this
     executable. Proxies are taken from http_proxy, https_proxy, all_proxy
     and no_proxy. Downloads and copies alike stop when less than 64 MiB
     would stay free, or when the archive is larger than MaxDownloadMB of
     section [Update] (whole MiB; missing, empty or 0: no cap; any other
     value that is no whole number stops the run with exit code )" +
           code(kSettingsMalformed) + R"().
  4. When "Tavrel.INI" holds the publisher's public key (section [Update],
     key PublicKey: the base64 line that `minisign -G` prints), fetches the
     release's signature the same way, from the location with ".minisig"
     appended, and verifies it with the key. A release whose signature is
     missing or does not hold is not opened: it is deleted with its
     signature. Without a key one line on standard error says that the
     release was not verified.
  5. Tests the archive, unpacks it into the hidden folder ".tavrel-update"
     of the program folder. When the release carries the UnRAR library or
     an updater (tavrel-update, tavrel-updater), the library is loaded and
     asked its version and each updater is run with --version; a part that
     fails stops the update (exit code )" +
           code(kReleaseBreaksUpdater) + R"(), so that a release can never
     disable the updates after it. Then installs it over the program
     folder as one step: all of the release or none of it, also after a
     crash or a power cut. Then deletes the archive. A rejected archive is kept for
     inspection. "Tavrel.INI" and the embedded database file the program is
     connected to are never replaced; neither are entries aimed at the
     update's own folder ".tavrel-update" or named "NewExe.zip" (compared
     without regard to case); a line names each one left out.

Before anything else, the program takes the update lock of the folder
(".tavrel-update/lock"): a second updater in the same folder exits with
code )" + code(kBusy) +
           R"( at once and changes nothing. When the lock cannot be taken at all
(".tavrel-update" or its lock is not what it should be, or the user may
not create or read them) the program names the cause and exits with code
)" + code(kLockFailed) +
           R"(, also changing nothing. Then an update that a crash
interrupted is undone (or finished when it had been committed) and a line
says so; left-over partial downloads and unpacked files are removed.

Ctrl-C (SIGINT) and SIGTERM (on Windows also Ctrl-Break and closing the
console window) stop the update within a moment: a fetch is abandoned,
unpacked files are removed, an install under way is undone; the program
folder stays as it was (an install already committed is finished) and the
exit code is )" +
           code(kInterrupted) + R"(.

Every message of the dialog is printed instead: information on standard
output, errors on standard error. The progress of fetching, testing and
unpacking is shown on standard error when it is a terminal.

What is installed: when an install has committed, ".tavrel-update/installed"
records the release: its location, size and SHA-256, the HTTP validators
(ETag, Last-Modified) of the response that delivered it or, for a copy, the
source file's size and modification time, and its signature file when a
public key is configured. A missing or damaged record means nothing is
known: the release is then taken as new.

A download that stops (a broken connection, a kill, Ctrl-C, a full disk)
is kept in ".tavrel-update" with the release's validators, and the next run
asks only for the rest (Range with If-Range). When the server sends the
whole release instead, the release changed or the location changed, it
starts over; a kept part older than three days is dropped. A resumed
archive is checked as a whole like any other (signature, test).

Downloads use the HTTP proxy of [Update] Proxy= in "Tavrel.INI" (for
example http://proxy.branch:3128), else the environment's http_proxy,
https_proxy and all_proxy; hosts listed in no_proxy are reached directly
either way. Nothing in the requests keeps a cache
on the way from answering. A download gives up when it is slower than
[Update] LowSpeedKB= KiB/s (default 1, 0 = no floor) over LowSpeedSec=
seconds (default 60), or takes longer than DownloadTimeoutMin= minutes
(default 600). [Update] MaxRateKB= caps every request of a run (release,
signature, .zck and its chunks) at that many KiB/s (missing, empty or 0:
no cap); the speed floor is then at most half the cap, so that a capped
download never counts as too slow. Numbers are decimal digits, "+" in
front allowed; the two times may have a fraction ("1.5") but must come to
a second at least. A Proxy= that is no host:port or http(s) URL, or any
other malformed value of [Update], stops the run before anything is
fetched (exit code )" +
           code(kSettingsMalformed) + R"().

Delta updates: with a public key configured and the release published
with its zchunk file beside it (location with ".zck" appended), a
download fetches only the chunks that the installed release's .zck, kept
in ".tavrel-update/release.zck", lacks, and rebuilds the archive from
them; the rebuilt archive is then checked as a downloaded one (signature,
downgrade rule, test). When no .zck is published or kept, a chunk does
not match, the server sends no ranges, the missing chunks are over 80 per
cent of the archive, or the rebuilt archive's signature does not hold,
the whole archive is fetched instead, once. One line on standard error
says which, and how many bytes the delta saved. Without a kept .zck the
whole .zck is fetched and the archive rebuilt from it; after a whole
download that replaced a failed delta the run makes the .zck itself. The
kept .zck takes about the archive's size on disk; where no .zck is
published none is kept. [Update] DeltaUpdates=0 turns deltas off and
removes the kept .zck at the next install (default 1).

With a public key configured, a release signed earlier than the installed
one (the "timestamp:N" that minisign puts into the trusted comment) is
refused, unless [Update] AllowDowngrade=1.

Options:
  --if-changed  ask the source first; install only a release that differs
                from the one installed last. Asked by HTTP with the
                installed release's validators (If-None-Match or
                If-Modified-Since: the answer 304 means unchanged; a server
                that gave none counts as changed), for a copy by the source
                file's size and modification time, and with a public key
                configured by the release's signature file alone (the same
                signature is the same release). When unchanged: one line
                says so, nothing is fetched, no file of the program folder
                is written, exit code )" +
           code(kNoNewRelease) + R"(.
  --check       only tell whether a new release is published: exit code )" +
           code(kInstalled) + R"(
                when it differs from the one installed last, )" +
           code(kNoNewRelease) + R"( when not,
                another code when it could not be asked. Changes nothing.
  -h, --help    show this text and exit
  --version     print the program's version and exit
  --scramble-password
                read a password from standard input (not shown on a
                terminal) and print it scrambled, as the key Password of
                section [LoginU] holds it; for workstations without a
                display, where the connection dialog cannot write it
  --fleet-status [--days N]
                print the fleet status table TAVREL_FLEET of the database:
                how many workstations run each release, which failed at
                their last run and which have not run for N days (default
                7); exit code 0 when none, 17 when some, 18 when the table
                does not exist. Every run but --check writes its
                workstation's row there when the table exists (README)

Exit codes:
)" + exitCodeLines();
}

// The console's view of a run: no button, progress on a terminal only.
class ConsoleView : public UpdateView {
public:
    ConsoleView() : showProgress_(isatty(fileno(stderr)) != 0) {}

    void setRenewEnabled(bool) override { endProgressLine(); }

    bool fetchProgress(std::uint64_t done, std::optional<std::uint64_t> total) override
    {
        if (showProgress_) {
            std::cerr << "\rfetched " << done / 1024 << " KiB";
            if (total && *total > 0)
                std::cerr << " of " << *total / 1024 << " KiB (" << done * 100 / *total << "%)";
            std::cerr << std::flush;
            progressShown_ = true;
        }
        return true;
    }

    void fetchStarting(const std::string& location, bool http) override
    {
        std::cerr << "tavrel-update: " << (http ? "downloading " : "copying ") << location << std::endl;
    }

    void fetchFailed(const std::string& reason) override
    {
        endProgressLine();
        std::cerr << "tavrel-update: " << reason << std::endl;
    }

    void fetchNote(const std::string& note) override { releaseChecked(note); }

    void releaseChecked(const std::string& note) override
    {
        endProgressLine();
        std::cerr << "tavrel-update: " << note << std::endl;
    }

    void testProgress(std::uint64_t done, std::uint64_t total) override { archiveProgress("testing", done, total); }

    void unpackProgress(std::uint64_t done, std::uint64_t total) override { archiveProgress("unpacking", done, total); }

    // Messages must start on a line of their own.
    void endProgressLine()
    {
        if (progressShown_)
            std::cerr << std::endl;
        progressShown_ = false;
        step_.clear();
    }

private:
    // One line per step; an archive whose total is unknown shows the amount done.
    void archiveProgress(const std::string& step, std::uint64_t done, std::uint64_t total)
    {
        if (!showProgress_)
            return;
        if (step_ != step)
            endProgressLine();
        step_ = step;
        std::cerr << '\r' << step << ' ';
        if (total > 0 && done <= total)
            std::cerr << done * 100 / total << "%   ";
        else
            std::cerr << done / 1024 << " KiB   ";
        std::cerr << std::flush;
        progressShown_ = true;
    }

    bool showProgress_;
    bool progressShown_ = false;
    std::string step_; // the step whose progress the line shows
};

// Ends the progress line before each message.
class ConsoleRunMessages : public platform::ConsoleMessages {
public:
    ConsoleRunMessages(ConsoleView& view) : ConsoleMessages(std::cout, std::cerr), view_(view) {}
    void error(const std::u16string& text) override
    {
        view_.endProgressLine();
        ConsoleMessages::error(text);
    }
    void information(const std::u16string& text) override
    {
        view_.endProgressLine();
        ConsoleMessages::information(text);
    }

private:
    ConsoleView& view_;
};

} // namespace

int main(int argc, char* argv[])
{
    const platform::ConsoleStreams consoleText;
    UpdateMode mode = UpdateMode::Always;
    std::optional<int> fleetDays;
    bool fleetStatus = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--fleet-status") {
            fleetStatus = true;
            continue;
        }
        if (arg == "--days") {
            fleetDays = i + 1 < argc ? parseFleetDays(argv[++i]) : std::nullopt;
            if (!fleetDays) {
                std::cerr << "tavrel-update: --days takes a whole number of days from 1 to 3650\n";
                return kUsage;
            }
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            std::cout << helpText();
            return kInstalled;
        }
        if (arg == "--scramble-password")
            return scramblePassword();
        if (arg == "--version") {
            std::cout << "tavrel-update " << TAVREL_VERSION << std::endl;
            return kInstalled;
        }
        const UpdateMode asked = arg == "--if-changed" ? UpdateMode::IfChanged
                                 : arg == "--check"    ? UpdateMode::CheckOnly
                                                       : UpdateMode::Always;
        if (asked == UpdateMode::Always || mode != UpdateMode::Always) {
            std::cerr << "tavrel-update: " << (asked == UpdateMode::Always ? "unknown argument" : "one mode only:")
                      << " \"" << arg << "\"; see tavrel-update --help\n";
            return kUsage;
        }
        mode = asked;
    }
    if ((fleetDays && !fleetStatus) || (fleetStatus && mode != UpdateMode::Always)) {
        std::cerr << "tavrel-update: "
                  << (fleetStatus ? "--fleet-status takes no mode" : "--days goes with --fleet-status")
                  << "; see tavrel-update --help\n";
        return kUsage;
    }

    platform::catchInterrupts();
    // Qt Sql needs an application object; a core one opens no window.
    QCoreApplication application(argc, argv);
    ConsoleView view;
    ConsoleRunMessages console(view);
    RunMessages messages(console);

    // A report only: no update lock, nothing written.
    if (fleetStatus) {
        TMainDM dm(messages);
        MainDM = &dm;
        return printFleetStatus(dm, messages, platform::executableFolder(), fleetDays.value_or(kDefaultStaleDays),
                                std::cout);
    }

    // Before the database is connected: a second updater must not even
    // open the embedded database file of the first.
    std::optional<UpdateSession> session;
    try {
        session.emplace(platform::executableFolder(), messages);
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return kUnexpectedError;
    }
    if (session->busy())
        return kBusy;
    if (session->failed())
        return kLockFailed;

    TMainDM dm(messages);
    MainDM = &dm;
    // The run's row in the fleet status table, through a connection of its
    // own: start-up closed its connection before the run on purpose.
    const auto recorded = [&](int code) {
        if (mode != UpdateMode::CheckOnly &&
            !recordFleetRun(dm.FDconUrv, platform::executableFolder(), code, messages.last())) {
            // The abandoned write's thread must not meet the exit handlers.
            std::cout.flush();
            std::cerr.flush();
            std::_Exit(code);
        }
        return code;
    };

    std::optional<UpdateSource> source;
    try {
        source = startUp(dm, messages, platform::executableFolder());
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return recorded(kNoParameters);
    }
    if (!source)
        return kNoDatabase;
    if (source->locationMissing)
        return recorded(kNoParameters);

    const auto http = platform::makeHttpClient();
    TUpdateRun run(messages, view, *http);
    try {
        run.setDownloadLimits(readDownloadLimits());
    } catch (const MalformedSetting& error) {
        messages.error(platform::toUtf16(error.what()));
        return recorded(kSettingsMalformed);
    }
    run.Interrupted = [] { return platform::interruptSignal() != 0; };
    if (!source->embeddedDatabase.empty())
        run.protectFile(platform::toPath(source->embeddedDatabase));
    UpdateSetup setup = updateSetup(platform::executableFolder(), source->http);
    setup.mode = mode;
    int exitCode = kUnexpectedError;
    try {
        exitCode = exitCodeOf(run.BBRenewClick(setup, source->location));
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
    }
    if (platform::interruptSignal() != 0) {
        view.endProgressLine();
        std::cerr << "tavrel-update: interrupted by signal " << platform::interruptSignal() << std::endl;
        std::cout.flush();
        // The folder is whole by now (staging removed, an install undone or
        // finished, the database closed long ago). Leave at once: the exit
        // handlers of the database engine, run after a signal, were seen to
        // crash the process (SIGSEGV, SIGABRT) and turn this exit code into a
        // signal. The system releases the update lock.
        std::_Exit(kInterrupted);
    }
    return recorded(exitCode);
}
