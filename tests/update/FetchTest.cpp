// Fetching the release archive: HTTP downloads against a real loopback
// server and copies between real files.
#include "update/Fetch.h"
#include "platform/ExecutablePath.h"
#include "platform/RecordingMessages.h"
#include "platform/TextCodec.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

const std::string kEarlierArchive = "earlier archive";
const std::u16string kNotFound = u"Файл обновления по указанному пути не найден!";

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

// The test's folder, and how many entries it holds: a download leaves no
// temporary file behind.
class TempFolder : public testsupport::TempDir {
public:
    TempFolder() : TempDir("tavrel-fetch") {}
    std::size_t entries() const { return static_cast<std::size_t>(std::distance(fs::directory_iterator(path()), {})); }
};

struct ProgressLog : FetchObserver {
    std::vector<std::uint64_t> done;
    std::optional<std::uint64_t> total;
    std::string failure;
    std::uint64_t cancelAfter = UINT64_MAX;
    bool fetchProgress(std::uint64_t d, std::optional<std::uint64_t> t) override
    {
        done.push_back(d);
        total = t;
        return d < cancelAfter;
    }
    void fetchFailed(const std::string& reason) override { failure = reason; }
};

// One server for all download tests: starting Python per test costs time.
class Download : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = std::make_unique<testsupport::HttpTestServer>(); }
    static void TearDownTestSuite() { server.reset(); }

    bool get(const std::string& url) { return fetch.GetInetFile(url, target.string()); }

    static std::unique_ptr<testsupport::HttpTestServer> server;
    TempFolder folder;
    fs::path target = folder.path() / "NewExe.zip";
    platform::RecordingMessages messages;
    std::unique_ptr<platform::HttpClient> http = platform::makeHttpClient();
    ProgressLog observer;
    TFetch fetch{messages, *http, &observer};
};
std::unique_ptr<testsupport::HttpTestServer> Download::server;

struct DownloadCase {
    const char* name;
    const char* path; // on the test server; a full URL when it has a scheme
    bool ok;
    std::string body; // the file after a successful fetch
};

void PrintTo(const DownloadCase& c, std::ostream* os) { *os << c.name; }

class DownloadCases : public Download, public ::testing::WithParamInterface<DownloadCase> {};

TEST_P(DownloadCases, ReplacesTheArchiveOnlyWhenTheWholeBodyArrived)
{
    const DownloadCase& c = GetParam();
    writeFileBytes(target, kEarlierArchive);
    const std::string path = c.path;
    EXPECT_EQ(get(path.find("://") != std::string::npos ? path : server->url(path)), c.ok);
    const std::string expected = c.ok ? c.body : kEarlierArchive;
    const std::string content = readFileBytes(target);
    EXPECT_EQ(content.size(), expected.size());
    EXPECT_TRUE(content == expected) << "content differs";
    EXPECT_EQ(folder.entries(), 1u) << "no temporary file is left behind";
    EXPECT_TRUE(messages.all().empty()) << "a download shows no message of its own";
    EXPECT_EQ(observer.failure.empty(), c.ok) << observer.failure;
}

INSTANTIATE_TEST_SUITE_P(Fetch, DownloadCases,
                         ::testing::Values(DownloadCase{"Status200", "/ok/2048", true, pattern(2048)},
                                           DownloadCase{"EmptyBody", "/empty", true, ""},
                                           DownloadCase{"SlowBody", "/slow/5/40", true, pattern(5 * 1024)},
                                           DownloadCase{"RedirectFollowed", "/redirect/ok/300", true, pattern(300)},
                                           DownloadCase{"Final302KeepsItsBody", "/status/302", true, "status 302 body"},
                                           DownloadCase{"Status404", "/status/404", false, ""},
                                           DownloadCase{"Status500", "/status/500", false, ""},
                                           DownloadCase{"RedirectTo404", "/redirect/status/404", false, ""},
                                           DownloadCase{"BodyCutOff", "/cut/4096/1000", false, ""},
                                           DownloadCase{"ChunkedBodyCutOff", "/chunked-cut", false, ""},
                                           DownloadCase{"NoAnswer", "http://127.0.0.1:1/x", false, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Download, LocationsTypedWithBlanksOrLettersReachTheServerEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/echo/Release 2.rar", "/echo/Release%202.rar"},
        {"/echo/Release%202.rar", "/echo/Release%202.rar"},
        {"/echo/Выпуск.rar", "/echo/%D0%92%D1%8B%D0%BF%D1%83%D1%81%D0%BA.rar"},
        {"/echo/%D0%92%D1%8B%D0%BF%D1%83%D1%81%D0%BA.rar", "/echo/%D0%92%D1%8B%D0%BF%D1%83%D1%81%D0%BA.rar"},
        {"/echo/100%.rar", "/echo/100%25.rar"},
        {"/echo/a;b:c@d+e,f=g!$'()*~/x.rar?v=1&w=a b#part", "/echo/a;b:c@d+e,f=g!$'()*~/x.rar?v=1&w=a%20b"},
    };
    for (const auto& [typed, arrived] : cases) {
        // Typed in the system's 8-bit code page (Windows-1251 on a Russian Windows).
        EXPECT_TRUE(get(server->url(platform::utf16ToAnsi(platform::toUtf16(typed)))))
            << typed << ": " << observer.failure;
        EXPECT_EQ(readFileBytes(target), arrived) << typed;
    }
    EXPECT_TRUE(messages.all().empty());
}

// Sets an environment variable for the rest of the process; empty removes it.
void setEnvironment(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1);
#endif
}

TEST_F(Download, GoesThroughTheProxyOfTheSettingsOrOfTheEnvironment)
{
    // The test server answers a proxy's request too; its echo shows the whole URL a proxy is sent.
    const std::string remote = "http://release.tavrel.invalid/echo/Release.rar";
    const std::string proxy = server->url("");
    struct Way {
        const char* name;
        std::string settings;
        std::string environment;
        bool proxied;
    };
    const Way ways[] = {
        {"Proxy= of the settings", proxy, "", true},
        {"the settings' proxy before the environment's", proxy, "http://127.0.0.1:1", true},
        {"http_proxy of the environment", "", proxy, true},
        {"no_proxy names the loopback server: asked directly", "", "http://127.0.0.1:1", false},
    };
    setEnvironment("no_proxy", "127.0.0.1,localhost");
    for (const Way& way : ways) {
        fetch.setProxy(way.settings);
        setEnvironment("http_proxy", way.environment);
        EXPECT_TRUE(get(way.proxied ? remote : server->url("/echo/direct"))) << way.name << ": " << observer.failure;
        // WinInet names the port it goes to.
        const std::string arrived = readFileBytes(target);
        if (way.proxied)
            EXPECT_TRUE(arrived == remote || arrived == "http://release.tavrel.invalid:80/echo/Release.rar")
                << way.name << ": " << arrived;
        else
            EXPECT_EQ(arrived, "/echo/direct") << way.name;
    }
    setEnvironment("http_proxy", "");
}

TEST_F(Download, LocationThatIsNoHttpUrlIsNamedInAMessage)
{
    const std::pair<std::string, std::string> cases[] = {
        {"http://bad host/Release.rar", "Неверный адрес файла обновления: http://bad host/Release.rar"},
        {"file:///etc/hostname", "Адрес файла обновления file:///etc/hostname не является адресом HTTP: при DOUPDATE=1 "
                                 "в таблице TAVREL_PARAMS обновление загружается только по http:// или https://. "
                                 "Чтобы скопировать файл, укажите в NEWVERSIONPASS путь к нему и DOUPDATE=0."},
    };
    for (const auto& [location, text] : cases) {
        messages.clear();
        writeFileBytes(target, kEarlierArchive);
        EXPECT_FALSE(get(location));
        EXPECT_EQ(messages.texts(), std::vector<std::string>{text});
        EXPECT_EQ(readFileBytes(target), kEarlierArchive);
        EXPECT_EQ(folder.entries(), 1u) << location;
    }
}

TEST_F(Download, EndlessOversizedTricklingOrOverlongBodyStopsAtItsLimit)
{
    using std::chrono::seconds;
    const std::uintmax_t available = fs::space(folder.path()).available;
    struct Case {
        const char* path;
        DownloadLimits limits;
        const char* reason;
    };
    const Case cases[] = {
        {"/endless", {.maxBytes = 1u << 20}, "larger than 1 MiB"},
        {"/ok/2097152", {.maxBytes = 1u << 20}, "larger than 1 MiB"},
        {"/endless", {.minFreeBytes = available - (8u << 20), .maxBytes = std::nullopt}, "must stay free"},
        {"/ok/2097152", {.minFreeBytes = available + (1ull << 30), .maxBytes = std::nullopt}, "must stay free"},
        // 100 bytes every 300 ms against a floor of 1 KiB/s over 1 s.
        {"/trickle/100/300",
         {.minFreeBytes = 0, .maxBytes = std::nullopt, .lowSpeedBytesPerSecond = 1024, .lowSpeedWindow = seconds(1)},
         "slower than 1024 bytes/s"},
        // 10 KiB/s, fast enough for the floor, for 10 s.
        {"/slow/100/100",
         {.minFreeBytes = 0,
          .maxBytes = std::nullopt,
          .lowSpeedBytesPerSecond = 1024,
          .lowSpeedWindow = seconds(60),
          .overallTimeout = seconds(1)},
         "took longer than 1 s"},
    };
    for (const Case& c : cases) {
        writeFileBytes(target, kEarlierArchive);
        fetch.setLimits(c.limits);
        EXPECT_FALSE(get(server->url(c.path))) << c.path;
        EXPECT_NE(observer.failure.find(c.reason), std::string::npos) << c.path << ": " << observer.failure;
        EXPECT_EQ(readFileBytes(target), kEarlierArchive) << c.path;
        EXPECT_EQ(folder.entries(), 1u) << c.path;
    }
    EXPECT_TRUE(messages.all().empty());
}

TEST_F(Download, RefusedAnswerCreatesNoFile)
{
    EXPECT_FALSE(get(server->url("/status/404")));
    EXPECT_EQ(folder.entries(), 0u);
}

TEST_F(Download, SendsTheExecutableNameAsUserAgent)
{
    ASSERT_TRUE(get(server->url("/agent")));
    EXPECT_EQ(readFileBytes(target), platform::executablePath().filename().string());
}

TEST_F(Download, ReportsProgressPerBlockUpToTheAnnouncedTotal)
{
    ASSERT_TRUE(get(server->url("/slow/4/40")));
    ASSERT_GE(observer.done.size(), 2u);
    EXPECT_TRUE(std::is_sorted(observer.done.begin(), observer.done.end()));
    EXPECT_EQ(observer.done.back(), 4096u);
    EXPECT_EQ(observer.total, std::optional<std::uint64_t>(4096));
}

TEST_F(Download, CancelledFromProgressKeepsTheEarlierArchive)
{
    writeFileBytes(target, kEarlierArchive);
    observer.cancelAfter = 1;
    EXPECT_FALSE(get(server->url("/slow/4/20")));
    EXPECT_EQ(readFileBytes(target), kEarlierArchive);
    EXPECT_EQ(folder.entries(), 1u);
}

TEST_F(Download, HttpsServerWithUntrustedCertificateIsRefused)
{
    const testsupport::HttpTestServer untrusted(".", true);
    writeFileBytes(target, kEarlierArchive);
    EXPECT_FALSE(get(untrusted.url("/ok/100")));
    EXPECT_EQ(readFileBytes(target), kEarlierArchive);
    EXPECT_NE(observer.failure.find("certificate"), std::string::npos) << observer.failure;
}

TEST_F(Download, UnwritableTargetRaisesAnIoErrorAndLeavesNoFile)
{
    // A folder in the target's place: root ignores permissions, but no one
    // can replace a folder with a file.
    fs::create_directory(target);
    EXPECT_THROW(get(server->url("/ok/100")), std::system_error);
    EXPECT_TRUE(fs::is_directory(target));
    EXPECT_EQ(folder.entries(), 1u);

    EXPECT_THROW(fetch.GetInetFile(server->url("/ok/100"), (folder.path() / "missing" / "NewExe.zip").string()),
                 std::system_error);
}

class Copy : public ::testing::Test {
protected:
    Copy() { writeFileBytes(source, pattern(3000)); }

    TempFolder folder;
    fs::path source = folder.path() / "release.rar";
    fs::path target = folder.path() / "NewExe.zip";
    platform::RecordingMessages messages;
    std::unique_ptr<platform::HttpClient> http = platform::makeHttpClient();
    ProgressLog observer;
    TFetch fetch{messages, *http, &observer};
};

TEST_F(Copy, CopiesAndReplacesAnExistingTarget)
{
    writeFileBytes(target, kEarlierArchive);
    ASSERT_TRUE(fetch.GetNetFile(source.string(), target.string()));
    EXPECT_EQ(readFileBytes(target), pattern(3000));
    EXPECT_EQ(readFileBytes(source), pattern(3000));
    EXPECT_TRUE(messages.all().empty());
    EXPECT_EQ(observer.done.back(), 3000u);
    EXPECT_EQ(folder.entries(), 2u);
}

TEST_F(Copy, FollowsALinkToTheSource)
{
    const fs::path link = folder.path() / "current.rar";
    fs::create_symlink(source, link);
    ASSERT_TRUE(fetch.GetNetFile(link.string(), target.string()));
    EXPECT_EQ(readFileBytes(target), pattern(3000));
    EXPECT_FALSE(fs::is_symlink(target));
}

TEST_F(Copy, MissingSourceIsReportedAsNotFoundAndAFolderOrFifoAsWhatItIs)
{
    std::vector<std::pair<fs::path, std::string>> cases = {
        {folder.path() / "absent.rar", platform::toUtf8(kNotFound)},
        {folder.path(), "По пути обновления " + folder.path().string() + " находится папка, а не файл архива!"},
    };
#ifndef _WIN32
    // Windows has no fifos, and links there need a privilege.
    const fs::path fifo = folder.path() / "release.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(folder.path() / "nowhere", folder.path() / "dangling.rar");
    cases.push_back({folder.path() / "dangling.rar", platform::toUtf8(kNotFound)});
    cases.push_back(
        {fifo, "По пути обновления " + fifo.string() + " находится не обычный файл (канал, устройство или сокет)!"});
#endif
    for (const auto& [src, text] : cases) {
        messages.clear();
        EXPECT_FALSE(fetch.GetNetFile(src.string(), target.string())) << src;
        EXPECT_EQ(messages.texts(), (std::vector<std::string>{text})) << src;
        EXPECT_EQ(messages.all().at(0).kind, platform::MessageKind::Error);
        EXPECT_FALSE(fs::exists(target));
    }
}

TEST_F(Copy, UnreplaceableTargetFailsQuietlyAndStaysIntact)
{
    // Read-only files and folders do not stop root, which runs CI; a folder
    // in the target's place cannot be replaced by anyone.
    fs::create_directory(target);
    writeFileBytes(target / "inside", "kept");
    EXPECT_FALSE(fetch.GetNetFile(source.string(), target.string()));
    EXPECT_TRUE(messages.all().empty()) << "the caller reports a failed copy";
    EXPECT_EQ(readFileBytes(target / "inside"), "kept");
    EXPECT_FALSE(observer.failure.empty());
    EXPECT_EQ(folder.entries(), 2u) << "no temporary file is left behind";

    EXPECT_FALSE(fetch.GetNetFile(source.string(), (folder.path() / "missing" / "NewExe.zip").string()));
}

TEST_F(Copy, SourceAndTargetMayBeTheSameFile)
{
    ASSERT_TRUE(fetch.GetNetFile(source.string(), source.string()));
    EXPECT_EQ(readFileBytes(source), pattern(3000));
}

} // namespace
