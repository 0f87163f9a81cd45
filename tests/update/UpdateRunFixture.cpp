#include "tests/update/UpdateRunFixture.h"

#include "platform/FileOps.h"
#include "platform/TextCodec.h"

namespace fs = std::filesystem;

namespace testsupport {

void RecordingView::unpackProgress(std::uint64_t done, std::uint64_t)
{
    unpacked = done;
    if (duringUnpack)
        duringUnpack();
}

bool RecordingView::fetchProgress(std::uint64_t, std::optional<std::uint64_t>)
{
    if (duringFetch)
        duringFetch();
    return true;
}

std::unique_ptr<TempDir> UpdateRunFixture::releases;
std::unique_ptr<HttpTestServer> UpdateRunFixture::server;

UpdateRunFixture::UpdateRunFixture(const std::string& prefix) : root(prefix)
{
    // Letters beyond ASCII, of the system's 8-bit code page: the updater takes 8-bit paths.
    const std::u16string cyrillic = u"Программа Таврель";
    const bool inCodePage = platform::ansiToUtf16(platform::utf16ToAnsi(cyrillic)) == cyrillic;
    useProgramFolder(root.path() / std::filesystem::path(inCodePage ? u"Программа Таврель" : u"Programme Tavrél"));
}

void UpdateRunFixture::openReleases(const std::string& prefix) { releases = std::make_unique<TempDir>(prefix); }

void UpdateRunFixture::serveReleases() { server = std::make_unique<HttpTestServer>(releases->path().string()); }

void UpdateRunFixture::closeReleases()
{
    server.reset();
    releases.reset();
}

void UpdateRunFixture::useProgramFolder(const fs::path& folder)
{
    program = folder;
    fs::create_directories(program);
    writeFileBytes(program / "Tavrel.exe", "old program");
    setup.programFolder = program;
}

} // namespace testsupport
