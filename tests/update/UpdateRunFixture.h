#pragma once
// What the tests of the update run share: releases written once for a suite
// and served over a loopback HTTP server, a program folder with Cyrillic
// letters in its path that holds the old program, the current directory in
// another folder (as when the program is started from a shortcut elsewhere),
// and an update run over them that records its messages and what it shows.
// A test fixture derives from a gtest base and from this.
#include "platform/RecordingMessages.h"
#include "tests/support/HttpTestServer.h"
#include "tests/support/TempDir.h"
#include "update/UpdateRun.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

inline const std::string kReceived = "Обновление получено.";
inline const std::string kFailed = "Не удалось обновить файл!";
inline const std::string kUnpacked = "Разархивация завершена.";

// Keeps what the run showed and runs a test's hooks while it fetches and unpacks.
struct RecordingView : UpdateView {
    std::vector<bool> enabled;
    std::vector<std::string> notes;
    std::uint64_t unpacked = 0;
    std::function<void()> duringFetch;
    std::function<void()> duringUnpack; // testing or unpacking
    void setRenewEnabled(bool on) override { enabled.push_back(on); }
    void releaseChecked(const std::string& note) override { notes.push_back(note); }
    void unpackProgress(std::uint64_t done, std::uint64_t) override;
    bool fetchProgress(std::uint64_t, std::optional<std::uint64_t>) override;
};

class UpdateRunFixture {
protected:
    // `prefix` names the temporary folder of one test.
    explicit UpdateRunFixture(const std::string& prefix);

    // The suite's releases: a fresh folder named after `prefix`, filled by the
    // suite, then served under /files/ until closeReleases().
    static void openReleases(const std::string& prefix);
    static void serveReleases();
    static void closeReleases();
    static std::string release(const std::string& name) { return (releases->path() / name).string(); }

    // Makes `folder` (created if missing) the program folder, holding the old program.
    void useProgramFolder(const std::filesystem::path& folder);
    std::filesystem::path archiveInWork() const { return work / "NewExe.zip"; }

    static std::unique_ptr<TempDir> releases;
    static std::unique_ptr<HttpTestServer> server;

    TempDir root;
    std::filesystem::path program; // see useProgramFolder
    std::filesystem::path work = root / "work";
    CurrentDirectory cwd{work};
    platform::RecordingMessages messages;
    RecordingView view;
    std::unique_ptr<platform::HttpClient> http = platform::makeHttpClient();
    TUpdateRun run{messages, view, *http};
    UpdateSetup setup; // the program folder, copy mode, no settings file
};

} // namespace testsupport
