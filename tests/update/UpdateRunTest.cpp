// One update from the renew button to the unpacked release, with the real
// archive component and our UnRAR library, a loopback HTTP server and real
// folders: the program folder has Cyrillic letters in its path and the
// current directory is another folder, as when the program is started from
// a shortcut elsewhere.
#include "platform/FileOps.h"
#include "platform/TextCodec.h"
#include "tests/support/RarWriter.h"
#include "tests/support/StockCrypto.h"
#include "tests/update/UpdateRunFixture.h"
#include "update/InstalledRelease.h"
#include "update/UpdateFolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <system_error>
#ifdef __linux__
#include <sys/mount.h>
#endif
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::kFailed;
using testsupport::kReceived;
using testsupport::kUnpacked;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

namespace {

class UpdateRun : public ::testing::Test, protected testsupport::UpdateRunFixture {
protected:
    static void SetUpTestSuite()
    {
        openReleases("tavrel-releases");
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .directory("Help")
            .file("Help/Tavrel.chm", "new help")
            .write(releases->path(), "release");
        RarWriter(RarFormat::Rar5).file("Tavrel.exe", "new program").wrongCrc().write(releases->path(), "damaged");
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .file("Help.chm", "new help")
            .file("Last.dat", "damaged last entry")
            .wrongCrc()
            .write(releases->path(), "damaged-last");
        RarWriter(RarFormat::Rar5).file("Tavrel.exe", "other program").write(releases->path(), "other");
        // 6 MiB in three entries: more than a 4 MiB disk holds.
        RarWriter(RarFormat::Rar5)
            .generated("Part1.bin", 2u << 20, tavrel::test::fillPattern)
            .generated("Part2.bin", 2u << 20, tavrel::test::fillPattern)
            .generated("Part3.bin", 2u << 20, tavrel::test::fillPattern)
            .write(releases->path(), "big");
        RarWriter(RarFormat::Rar5)
            .generated("Part1.bin", 1u << 20, tavrel::test::fillPattern)
            .generated("Part2.bin", 1u << 20, tavrel::test::fillPattern)
            .write(releases->path(), "fits");
        serveReleases();
    }
    static void TearDownTestSuite() { closeReleases(); }

    UpdateRun() : UpdateRunFixture("tavrel-update") {}
};

TEST_F(UpdateRun, CopyModeInstallsTheCopiedArchiveEvenFromAnotherDirectory)
{
    // A stale archive in the current directory must not be what gets installed.
    writeFileBytes(archiveInWork(), "stale");
    messages.onMessage = [&](const platform::RecordedMessage& m) {
        if (m.text == kReceived) {
            EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program") << "told before unpacking";
            EXPECT_TRUE(fs::exists(program / "NewExe.zip"));
        }
    };

    EXPECT_EQ(run.BBRenewClick(setup, release("release.rar")), UpdateOutcome::Installed);

    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, kUnpacked}));
    EXPECT_EQ(messages.all().at(0).kind, platform::MessageKind::Information);
    EXPECT_EQ(messages.all().at(1).kind, platform::MessageKind::Information);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
    EXPECT_EQ(readFileBytes(archiveInWork()), "stale");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
    EXPECT_GT(view.unpacked, 0u);
}

TEST_F(UpdateRun, HttpModeDownloadsToAndUnpacksFromTheCurrentDirectory)
{
    setup.http = true;
    EXPECT_EQ(run.BBRenewClick(setup, server->url("/files/release.rar")), UpdateOutcome::Installed);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, kUnpacked}));
    EXPECT_EQ(readFileBytes(program / "Help" / "Tavrel.chm"), "new help");
    EXPECT_FALSE(fs::exists(archiveInWork()));
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));

    // The button is back, and a second update runs afresh.
    messages.clear();
    writeFileBytes(program / "Tavrel.exe", "changed since");
    EXPECT_EQ(run.BBRenewClick(setup, server->url("/files/release.rar")), UpdateOutcome::Installed);
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true, false, true}));
}

struct RejectedArchive {
    const char* name;
    const char* path; // on the test server
    UpdateOutcome outcome;
    std::string before; // message text before the archive's path
    std::string after;  // and after it
};

void PrintTo(const RejectedArchive& c, std::ostream* os) { *os << c.name; }

class RejectedArchives : public UpdateRun, public ::testing::WithParamInterface<RejectedArchive> {};

TEST_P(RejectedArchives, AreReportedWithTheirAbsolutePathAndKept)
{
    const RejectedArchive& c = GetParam();
    setup.http = true;
    EXPECT_EQ(run.BBRenewClick(setup, server->url(c.path)), c.outcome);
    const std::string archive = (fs::current_path() / "NewExe.zip").string();
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived, c.before + archive + c.after}));
    EXPECT_EQ(messages.all().back().kind, platform::MessageKind::Error);
    EXPECT_TRUE(fs::exists(archiveInWork()));
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
}

INSTANTIATE_TEST_SUITE_P(Update, RejectedArchives,
                         ::testing::Values(RejectedArchive{"WebPageFrom302", "/status/302", UpdateOutcome::OpenFailed,
                                                           "Ошибка при открытии архива ", ""},
                                           RejectedArchive{"EmptyBody", "/empty", UpdateOutcome::OpenFailed,
                                                           "Ошибка при открытии архива ", ""},
                                           RejectedArchive{"DamagedEntry", "/files/damaged.rar",
                                                           UpdateOutcome::TestFailed, "Архив ", " поврежден!"},
                                           RejectedArchive{"DamagedLastEntry", "/files/damaged-last.rar",
                                                           UpdateOutcome::TestFailed, "Архив ", " поврежден!"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateRun, FailedFetchAddsItsSummaryAndUnpacksNothing)
{
    struct Case {
        bool http;
        std::string source;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {false, release("absent.rar"), {"Файл обновления по указанному пути не найден!", kFailed}},
        {false,
         releases->path().string(),
         {"По пути обновления " + releases->path().string() + " находится папка, а не файл архива!", kFailed}},
        {true, server->url("/status/404"), {kFailed}},
        {true, server->url("/cut/4096/100"), {kFailed}},
    };
    for (const Case& c : cases) {
        setup.http = c.http;
        messages.clear();
        view.enabled.clear();
        EXPECT_EQ(run.BBRenewClick(setup, c.source), UpdateOutcome::FetchFailed) << c.source;
        EXPECT_EQ(messages.texts(), c.texts) << c.source;
        EXPECT_EQ(messages.all().back().kind, platform::MessageKind::Error);
        EXPECT_EQ(view.enabled, (std::vector<bool>{false, true})) << c.source;
        EXPECT_FALSE(fs::exists(archiveInWork()));
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    }
}

TEST_F(UpdateRun, MissingLibraryIsAnOpeningFailureThatNamesTheLibrary)
{
    run.RAR1.setDllName("libtavrel-no-such-unrar.so");
    EXPECT_EQ(run.BBRenewClick(setup, release("release.rar")), UpdateOutcome::OpenFailed);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{kReceived, "Библиотека UnRAR libtavrel-no-such-unrar.so не загружается "
                                                   "(libtavrel-no-such-unrar.so: cannot open shared object file: No "
                                                   "such file or directory), архив " +
                                                       (program / "NewExe.zip").string() +
                                                       " не открыт. Восстановите библиотеку в папке программы."}));
    EXPECT_TRUE(fs::exists(program / "NewExe.zip"));
}

// A tmpfs of a given size mounted on a folder for the life of the object;
// needs the right to mount (root in the test containers) and Linux.
class SmallDisk {
public:
    SmallDisk(const fs::path& folder, const std::string& options) : folder_(folder)
    {
        fs::create_directories(folder);
#ifdef __linux__
        mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
        if (!mounted_)
            reason_ = std::string("cannot mount a small tmpfs: ") + std::strerror(errno);
#else
        (void)options;
        reason_ = "no disk of a chosen size here";
#endif
    }
    ~SmallDisk()
    {
#ifdef __linux__
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
#endif
    }
    bool mounted() const { return mounted_; }
    const std::string& reason() const { return reason_; }

private:
    fs::path folder_;
    bool mounted_ = false;
    std::string reason_;
};

using testsupport::folderContents;

TEST_F(UpdateRun, CopyThatWouldLeaveTooLittleSpaceIsRefusedBeforeItsFirstByte)
{
    // Copy mode copies into the program folder, here on a disk far below the 64 MiB margin.
    SmallDisk disk(root / "disk", "size=4m");
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    useProgramFolder(root / "disk" / "program");
    const auto before = folderContents(program);
    EXPECT_EQ(run.BBRenewClick(setup, release("release.rar")), UpdateOutcome::FetchFailed);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{kFailed});
    EXPECT_EQ(folderContents(program), before) << "not even a partial copy";
}

struct Fault {
    const char* name;
    std::function<void(const fs::path& program)> prepare; // makes the fault in the program folder
    std::string tail;                                     // message text after the archive's path
    const char* archive = "release.rar";
    const char* smallDisk = nullptr; // tmpfs mount options of the program folder's disk; none: the test's disk
    // Run at the first unpacked block; the disk fills up then.
    std::function<void(const fs::path& program)> whileUnpacking;
};

void PrintTo(const Fault& f, std::ostream* os) { *os << f.name; }

class Faults : public UpdateRun, public ::testing::WithParamInterface<Fault> {};

TEST_P(Faults, LeaveTheProgramFolderAsItWasAndKeepTheArchive)
{
    const Fault& c = GetParam();
    std::optional<SmallDisk> disk;
    if (c.smallDisk) {
        disk.emplace(root / "disk", c.smallDisk);
        if (!disk->mounted())
            GTEST_SKIP() << disk->reason();
        useProgramFolder(root / "disk" / "program");
    }
    c.prepare(program);
    fs::copy_file(release(c.archive), work / "NewExe.zip");
    const auto before = folderContents(program);
    bool filled = false;
    run.OnStep = [&](std::string_view step) {
        if (step == "unpack" && c.whileUnpacking && !filled) {
            filled = true;
            c.whileUnpacking(program);
        }
    };

    EXPECT_EQ(run.UnRarFile("NewExe.zip", setup.programFolder), UpdateOutcome::ExtractFailed);
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"Ошибка при распаковке архива " + (work / "NewExe.zip").string() + c.tail}));
    EXPECT_EQ(messages.all().back().kind, platform::MessageKind::Error);
    // Nothing of the update is left in its folder either.
    EXPECT_TRUE(!fs::exists(program / kUpdateFolderName) || fs::is_empty(program / kUpdateFolderName));
    auto after = folderContents(program);
    std::erase_if(after, [](const auto& file) { return file.first.rfind("filler", 0) == 0; });
    after.erase(kUpdateFolderName);
    EXPECT_EQ(after, before);
    EXPECT_TRUE(fs::exists(work / "NewExe.zip"));
}

INSTANTIATE_TEST_SUITE_P(
    Update, Faults,
    ::testing::Values(Fault{"FileWhereTheReleaseHasAFolder",
                            [](const fs::path& p) { writeFileBytes(p / "Help", "in the way"); },
                            ": Help: на месте папки лежит файл",
                            "release.rar",
                            nullptr,
                            {}},
                      Fault{"FolderWhereTheReleaseHasAFile",
                            [](const fs::path& p) {
                                fs::create_directories(p / "Help" / "Tavrel.chm");
                                writeFileBytes(p / "Help" / "Tavrel.chm" / "inside", "a folder's file");
                            },
                            ": Help/Tavrel.chm: на месте файла лежит папка, он не может быть заменён",
                            "release.rar",
                            nullptr,
                            {}},
                      Fault{"TooLittleSpaceForTheRelease",
                            [](const fs::path&) {},
                            ": недостаточно места на диске (нужно 6 МБ, свободно 4 МБ)",
                            "big.rar",
                            "size=4m",
                            {}},
                      Fault{"DiskFullWhileUnpacking", [](const fs::path&) {},
                            ": Part1.bin: недостаточно места на диске", "fits.rar", "size=4m",
                            [](const fs::path& p) {
                                // Leaves less than the rest of the release needs.
                                std::ofstream filler(p / "filler", std::ios::binary);
                                const std::string block(64 * 1024, 'x');
                                while (filler.write(block.data(), block.size()))
                                    ;
                            }},
                      Fault{
                          "NoFileEntriesLeftWhileUnpacking", [](const fs::path&) {},
                          ": Part2.bin: на диске не осталось места для новых файлов (исчерпаны индексные дескрипторы)",
                          "fits.rar", "size=4m,nr_inodes=64",
                          [](const fs::path& p) {
                              // Room for data stays; no file can be created.
                              fs::create_directory(p / "filler");
                              for (int i = 0; std::ofstream(p / "filler" / std::to_string(i)); ++i)
                                  ;
                          }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateRun, AFailureAfterSomeMovesPutsEveryFileBack)
{
    fs::copy_file(release("release.rar"), work / "NewExe.zip");
    const auto before = folderContents(program);
    // Help and Help/Tavrel.chm are new and go in first; then the backup
    // folder that Tavrel.exe's old version needs cannot be made.
    run.OnStep = [&](std::string_view step) {
        if (step == "move Help/Tavrel.chm")
            writeFileBytes(program / kUpdateFolderName / "backup", "in the way");
    };

    EXPECT_EQ(run.UnRarFile("NewExe.zip", setup.programFolder), UpdateOutcome::ExtractFailed);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0].rfind(
                  "Ошибка при распаковке архива " + (work / "NewExe.zip").string() + ": Tavrel.exe: ", 0),
              0u)
        << messages.texts()[0];
    auto after = folderContents(program);
    EXPECT_TRUE(fs::is_empty(program / kUpdateFolderName));
    after.erase(kUpdateFolderName);
    EXPECT_EQ(after, before);
}

struct ProtectedEntry {
    const char* name;
    std::string entry;        // stored in the release
    std::string protect;      // absolute path given to protectFile, relative to the program folder; empty: none
    bool updatersOwn = false; // the updater's own name: nothing of the workstation's lies there
};

void PrintTo(const ProtectedEntry& c, std::ostream* os) { *os << c.name; }

class ProtectedEntries : public UpdateRun, public ::testing::WithParamInterface<ProtectedEntry> {};

TEST_P(ProtectedEntries, AreKeptAndNamedWhileTheRestIsInstalled)
{
    const ProtectedEntry& c = GetParam();
    const fs::path workstationFile = program / c.entry;
    if (!c.updatersOwn) {
        fs::create_directories(workstationFile.parent_path());
        writeFileBytes(workstationFile, "the workstation's own");
    }
    if (!c.protect.empty())
        run.protectFile(program / c.protect);
    RarWriter(RarFormat::Rar5)
        .file("Tavrel.exe", "new program")
        .file(c.entry, "from the release")
        .write(work, "protected");

    // Copied into the program folder as "NewExe.zip", which an entry of that name must not outlive.
    EXPECT_EQ(run.BBRenewClick(setup, (work / "protected.rar").string()), UpdateOutcome::Installed);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kReceived,
                                                          "Файл " + c.entry + " из обновления не установлен: " +
                                                              (c.updatersOwn ? "это имя занято программой обновления."
                                                                             : "оставлен файл рабочего места."),
                                                          kUnpacked}));
    if (c.updatersOwn)
        EXPECT_FALSE(fs::exists(workstationFile));
    else
        EXPECT_EQ(readFileBytes(workstationFile), "the workstation's own");
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program");
    EXPECT_FALSE(fs::exists(program / "NewExe.zip"));
#ifndef _WIN32
    // Windows compares names without regard to case: there this is the update folder.
    EXPECT_FALSE(fs::exists(program / ".TAVREL-UPDATE"));
#endif
    // Only the record of the release installed.
    EXPECT_EQ(std::distance(fs::directory_iterator(program / kUpdateFolderName), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::exists(program / kUpdateFolderName / "installed"));
}

INSTANTIATE_TEST_SUITE_P(Update, ProtectedEntries,
                         ::testing::Values(ProtectedEntry{"SettingsFile", "Tavrel.INI", ""},
                                           ProtectedEntry{"SettingsFileInOtherCase", "TAVREL.ini", ""},
                                           ProtectedEntry{"EmbeddedDatabase", "urv.fdb", "urv.fdb"},
                                           ProtectedEntry{"EmbeddedDatabaseInASubFolderByAnotherSpelling",
                                                          "Data/urv.fdb", "Help/../Data/./urv.fdb"},
                                           ProtectedEntry{"UpdateJournal", ".tavrel-update/journal", "", true},
                                           ProtectedEntry{"UpdateBackup", ".tavrel-update/backup/Tavrel.exe", "", true},
                                           ProtectedEntry{"UpdateFolderInOtherCase", ".TAVREL-UPDATE/journal", "",
                                                          true},
                                           ProtectedEntry{"ArchiveName", "NewExe.zip", "", true},
                                           ProtectedEntry{"ArchiveNameInOtherCase", "newexe.ZIP", "", true}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Swap {
    const char* name;
    bool duringTest; // else during unpacking
    std::function<void(const fs::path& archive, const fs::path& releases)> swap;
    UpdateOutcome outcome;
};

void PrintTo(const Swap& c, std::ostream* os) { *os << c.name; }

class SwappedArchives : public UpdateRun, public ::testing::WithParamInterface<Swap> {};

TEST_P(SwappedArchives, NeverInstallAnArchiveThatWasNotTested)
{
    const Swap& c = GetParam();
    const fs::path archive = work / "NewExe.zip";
    fs::copy_file(release("release.rar"), archive);
    bool swapped = false;
    auto swapOnce = [&] {
        if (!swapped) {
            swapped = true;
            c.swap(archive, releases->path());
        }
    };
    view.duringUnpack = [&] {
        if (c.duringTest)
            swapOnce();
    };
    run.OnStep = [&](std::string_view step) {
        if (step == "unpack" && !c.duringTest)
            swapOnce();
    };
    const auto before = folderContents(program);

    EXPECT_EQ(run.UnRarFile("NewExe.zip", setup.programFolder), c.outcome);
    EXPECT_TRUE(swapped);
    if (c.outcome == UpdateOutcome::Installed) {
        EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "new program") << "the tested release";
        EXPECT_EQ(messages.texts(), std::vector<std::string>{kUnpacked});
    } else {
        auto after = folderContents(program);
        after.erase(kUpdateFolderName);
        EXPECT_EQ(after, before);
        EXPECT_EQ(messages.texts(), std::vector<std::string>{"Ошибка при распаковке архива " + archive.string() +
                                                             ": архив изменён другой программой после проверки"});
    }
}

INSTANTIATE_TEST_SUITE_P(Update, SwappedArchives,
                         ::testing::Values(Swap{"ReplacedByAnotherReleaseDuringTheTest", true,
                                                [](const fs::path& a, const fs::path& r) {
                                                    fs::copy_file(r / "other.rar", fs::path(a) += ".new");
                                                    fs::rename(fs::path(a) += ".new", a);
                                                },
                                                UpdateOutcome::Installed},
                                           Swap{"ReplacedByAnotherReleaseDuringUnpacking", false,
                                                [](const fs::path& a, const fs::path& r) {
                                                    fs::copy_file(r / "other.rar", fs::path(a) += ".new");
                                                    fs::rename(fs::path(a) += ".new", a);
                                                },
                                                UpdateOutcome::Installed},
                                           Swap{"DeletedDuringUnpacking", false,
                                                [](const fs::path& a, const fs::path&) { fs::remove(a); },
                                                UpdateOutcome::Installed},
                                           Swap{"WrittenToInPlaceDuringUnpacking", false,
                                                [](const fs::path& a, const fs::path&) {
                                                    std::ofstream(a, std::ios::binary | std::ios::app) << "appended";
                                                },
                                                UpdateOutcome::ExtractFailed}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateRun, TheRecordCarriesTheSizeAndSha256OfTheInstalledArchive)
{
    // Three blocks of the digest's reads, the last one short.
    RarWriter(RarFormat::Rar5)
        .generated("Part1.bin", (2u << 20) + 12345, tavrel::test::fillPattern)
        .write(work, "measured");
    const std::string bytes = readFileBytes(work / "measured.rar");

    EXPECT_EQ(run.BBRenewClick(setup, (work / "measured.rar").string()), UpdateOutcome::Installed);

    const auto record = readInstalledRelease(UpdateFolder(program));
    ASSERT_TRUE(record);
    std::string hex;
    for (const unsigned char byte : tavrel::test::stockSha256(bytes)) {
        static constexpr char kHex[] = "0123456789abcdef";
        hex += kHex[byte >> 4];
        hex += kHex[byte & 15];
    }
    EXPECT_EQ(record->sha256, hex);
    EXPECT_EQ(record->size, bytes.size());
}

#ifndef _WIN32
// The modes the installed files get: an entry made on Unix brings its own
// (less what the umask forbids, never set-id bits); an entry made on Windows
// has none, so the file it replaces keeps its bits and a new one gets the
// usual default.
TEST_F(UpdateRun, InstalledFilesTakeTheirEntrysModeOrKeepTheirs)
{
    struct Case {
        const char* entry;
        std::optional<unsigned> before;   // the program folder's file; none: new
        std::optional<unsigned> unixMode; // the entry's mode; none: made on Windows
        unsigned windowsAttributes;
        unsigned after;
    };
    const Case cases[] = {
        {"program", 0755, std::nullopt, 0x20, 0755},
        {"read-only-on-windows", 0750, std::nullopt, 0x21, 0750},
        {"private", 0600, std::nullopt, 0x20, 0600},
        {"new-from-windows", std::nullopt, std::nullopt, 0x20, 0640},
        {"sub/program", 0711, std::nullopt, 0x20, 0711},
        {"made-executable", 0644, 0100775, 0, 0750},
        {"made-private", 0755, 0100600, 0, 0600},
        {"new-from-unix", std::nullopt, 0100755, 0, 0750},
        {"set-user-id", std::nullopt, 0104755, 0, 0750},
    };
    RarWriter writer(RarFormat::Rar5);
    for (const Case& c : cases) {
        if (c.before) {
            fs::create_directories((program / c.entry).parent_path());
            writeFileBytes(program / c.entry, "old");
            fs::permissions(program / c.entry, static_cast<fs::perms>(*c.before));
        }
        tavrel::test::RarEntry e;
        e.name = c.entry;
        e.data = "new";
        e.unixHost = c.unixMode.has_value();
        e.attributes = c.unixMode ? *c.unixMode : c.windowsAttributes;
        writer.entry(e);
    }
    writer.write(work, "modes");
    const mode_t umaskBefore = ::umask(027);

    const UpdateOutcome outcome = run.BBRenewClick(setup, (work / "modes.rar").string());
    ::umask(umaskBefore);

    ASSERT_EQ(outcome, UpdateOutcome::Installed) << ::testing::PrintToString(messages.texts());
    for (const Case& c : cases) {
        struct stat st {};
        ASSERT_EQ(::stat((program / c.entry).c_str(), &st), 0) << c.entry;
        EXPECT_EQ(st.st_mode & 07777, c.after) << c.entry;
        fs::permissions(program / c.entry, fs::perms::owner_read);
        EXPECT_EQ(readFileBytes(program / c.entry), "new") << c.entry;
    }
}
#endif

TEST_F(UpdateRun, EscapingExceptionReenablesTheButton)
{
    setup.http = true;
    fs::create_directory(archiveInWork()); // the download cannot take this name
    EXPECT_THROW(run.BBRenewClick(setup, server->url("/files/release.rar")), std::system_error);
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
    EXPECT_FALSE(run.running());
    EXPECT_TRUE(messages.all().empty());
}

TEST_F(UpdateRun, ClickDuringARunIsIgnoredAndCancelStopsTheFetch)
{
    setup.http = true;
    std::optional<UpdateOutcome> nested;
    view.duringFetch = [&] {
        nested = run.BBRenewClick(setup, server->url("/files/release.rar"));
        run.cancel();
    };
    EXPECT_EQ(run.BBRenewClick(setup, server->url("/slow/4/10")), UpdateOutcome::FetchFailed);
    EXPECT_EQ(nested, UpdateOutcome::AlreadyRunning);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{kFailed}));
    EXPECT_FALSE(fs::exists(archiveInWork()));
}

} // namespace
