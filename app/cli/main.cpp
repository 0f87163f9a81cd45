// tavrel-update: runs one update of the Tavrel workstation program without a
// window, for administrators who roll out releases by script. Same settings,
// parameter table and update run as the dialog; messages go to the terminal.
#include "app/Startup.h"
#include "app/UpdateRun.h"
#include "datamodule/MDm.h"
#include "platform/ConsoleMessages.h"
#include "platform/ExceptionReport.h"
#include "platform/ExecutablePath.h"
#include "platform/HttpClient.h"

#include <QCoreApplication>

#include <cstdio>
#include <iostream>
#include <string_view>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

// Exit codes, also listed by --help.
enum ExitCode {
    kInstalled = 0,
    kFetchFailed = 1,
    kOpenFailed = 2,
    kDamaged = 3,
    kExtractFailed = 4,
    kUnexpectedError = 5,
    kNoDatabase = 6,
    kNoParameters = 7,
    kUsage = 64,
};

constexpr std::string_view kHelp = R"(Usage: tavrel-update [--help]

Runs one update of the Tavrel program in this executable's folder, without
any window: the same steps as the button "Выполнить" of the update dialog.

  1. Reads the connection of section [LoginU] of "Tavrel.INI" beside this
     executable and connects to the working-time database. A failed
     connection is not followed by the connection dialog.
  2. Reads the update location (NEWVERSIONPASS) and the fetch mode
     (DOUPDATE: "1" downloads over HTTP, anything else copies the file)
     from the table TAVREL_PARAMS.
  3. Fetches the release archive: an HTTP download into "NewExe.zip" in the
     current directory, or a copy of the file into "NewExe.zip" beside this
     executable. Proxies are taken from http_proxy, https_proxy, all_proxy
     and no_proxy.
  4. Tests the archive, unpacks it over the program folder keeping its
     folders, and deletes it. A rejected archive is kept for inspection.

Every message of the dialog is printed instead: information on standard
output, errors on standard error. Progress is shown on standard error when
it is a terminal.

Options:
  -h, --help   show this text and exit

Exit codes:
  0   the release was installed
  1   the archive could not be fetched (no file at the path, HTTP status
      other than 200 or 302, no answer, a download that broke off)
  2   the archive could not be opened (not a RAR archive, or the UnRAR
      library is missing)
  3   the archive is damaged
  4   unpacking failed part way (a file could not be written); the program
      folder may hold part of the release, the archive is kept
  5   an unexpected error (for example the archive could not be written)
  6   no connection to the working-time database
  7   the parameter table could not be read
  64  wrong usage
)";

int exitCodeOf(UpdateOutcome outcome)
{
    switch (outcome) {
    case UpdateOutcome::Installed: return kInstalled;
    case UpdateOutcome::FetchFailed: return kFetchFailed;
    case UpdateOutcome::OpenFailed: return kOpenFailed;
    case UpdateOutcome::TestFailed: return kDamaged;
    case UpdateOutcome::ExtractFailed: return kExtractFailed;
    case UpdateOutcome::AlreadyRunning: break;
    }
    return kUnexpectedError;
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

    void fetchFailed(const std::string& reason) override
    {
        endProgressLine();
        std::cerr << "tavrel-update: " << reason << std::endl;
    }

    void unpackProgress(std::uint64_t done, std::uint64_t total) override
    {
        if (showProgress_ && total > 0) {
            std::cerr << "\runpacking " << done * 100 / total << "%   " << std::flush;
            progressShown_ = true;
        }
    }

    // Messages must start on a line of their own.
    void endProgressLine()
    {
        if (progressShown_)
            std::cerr << std::endl;
        progressShown_ = false;
    }

private:
    bool showProgress_;
    bool progressShown_ = false;
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
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kHelp;
            return kInstalled;
        }
        std::cerr << "tavrel-update: unknown argument \"" << arg << "\"; see tavrel-update --help\n";
        return kUsage;
    }

    // Qt Sql needs an application object; a core one opens no window.
    QCoreApplication application(argc, argv);
    ConsoleView view;
    ConsoleRunMessages messages(view);
    TMainDM dm(messages);
    MainDM = &dm;

    std::optional<UpdateSource> source;
    try {
        source = startUp(dm, messages, platform::executableFolder());
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return kNoParameters;
    }
    if (!source)
        return kNoDatabase;

    std::cerr << "tavrel-update: " << (source->http ? "downloading " : "copying ") << source->location << std::endl;
    const auto http = platform::makeCurlHttpClient();
    TUpdateRun run(messages, view, *http);
    try {
        return exitCodeOf(run.BBRenewClick(source->location));
    } catch (...) {
        messages.error(platform::exceptionText(std::current_exception()));
        return kUnexpectedError;
    }
}
