#include "tests/app/UpdateRunFixture.h"

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
    useProgramFolder(root / "Программа Таврель");
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
    setup.programFolder = program.string() + "/";
}

} // namespace testsupport
