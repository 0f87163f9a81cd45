// The component against our real UnRAR library, on archives made by the
// fixture writer: what the update run and the listing rely on end to end.
#include "RAR_Component/RAR.h"
#include "platform/RecordingMessages.h"
#include "platform/TextCodec.h"
#include "tests/support/RarWriter.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace {

using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
namespace fs = std::filesystem;

struct ErrorCall {
    int code;
    TRAROperation operation;
    bool operator==(const ErrorCall&) const = default;
};

void PrintTo(const ErrorCall& e, std::ostream* out) { *out << "{" << e.code << ", " << e.operation << "}"; }

// The component loads the library by its default bare name, found beside
// the test program as the updater finds it beside its own.
class RealLibrary : public ::testing::TestWithParam<RarFormat> {
protected:
    RealLibrary()
    {
        rar.OnError = [this](TRAR&, int code, TRAROperation op) { errors.push_back({code, op}); };
        rar.OnListFile = [this](TRAR&, const TRARFileItem& item) { items.push_back(item); };
    }

    std::string write(const RarWriter& writer, const std::string& stem = "update")
    {
        return writer.write(dir.path(), stem).front().string();
    }
    bool open(const std::string& archive)
    {
        const bool opened = rar.OpenFile(platform::ansiToUtf16(archive));
        errors.clear();
        return opened;
    }
    std::string out(const std::string& name = "prog")
    {
        fs::create_directories(dir / name);
        return (dir / name).string();
    }
    RarWriter tree() const
    {
        RarWriter w(GetParam());
        w.directory("sub").file("sub/a.txt", "hello").file("b.txt", "second file");
        return w;
    }

    testsupport::TempDir dir{"tavrel-rarcomp-real"};
    platform::RecordingMessages messages;
    TRAR rar{messages};
    std::vector<ErrorCall> errors;
    std::vector<TRARFileItem> items;
};

TEST_P(RealLibrary, ListFillsTheArchiveInformation)
{
    RarWriter w = tree();
    w.comment("Release notes");
    const std::string archive = write(w);
    ASSERT_TRUE(rar.OpenFile(platform::ansiToUtf16(archive)));
    EXPECT_TRUE(messages.all().empty());
    EXPECT_EQ(errors, std::vector<ErrorCall>(6, ErrorCall{0, roListFiles}));

    const TRARArchiveInformation& info = rar.ArchiveInformation();
    const bool rar5 = GetParam() == RarFormat::Rar5;
    EXPECT_EQ(info.ArchiverMajorVersion(), rar5 ? 5u : 2u);
    EXPECT_EQ(info.ArchiverMinorVersion(), 0u);
    EXPECT_EQ(info.TotalFiles(), 2);
    EXPECT_EQ(info.UnCompressedSize(), 16);
    EXPECT_EQ(info.CompressedSize(), 16);
    EXPECT_EQ(info.DictionarySize(), rar5 ? 128 * 1024 : 64 * 1024);
    EXPECT_TRUE(info.ArchiveComment());
    EXPECT_EQ(info.Comment(), "Release notes");
    EXPECT_EQ(info.HostOS(), u"Windows");
    EXPECT_FALSE(info.Solid());
    EXPECT_FALSE(info.MultiVolume());
    EXPECT_FALSE(info.SFX());
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].FileNameW, u"sub/a.txt");
    EXPECT_EQ(items[1].CRC32, u"3610A686"); // CRC-32 of "hello"
    EXPECT_EQ(items[1].CompressionStrength, static_cast<unsigned>(RAR_METHOD_STORE));
}

TEST_P(RealLibrary, SolidAndLockedArchiveFlags)
{
    RarWriter w = tree();
    w.solid().locked();
    ASSERT_TRUE(open(write(w)));
    EXPECT_TRUE(rar.ArchiveInformation().Solid());
    EXPECT_TRUE(rar.ArchiveInformation().Locked());
}

TEST_P(RealLibrary, SplitFileCountedOnceWithItsWholePackedSize)
{
    RarWriter w(GetParam());
    w.generated("big.bin", 3000, tavrel::test::fillPattern).file("small.txt", "x").volumes(3);
    const std::string first = write(w);

    rar.setReadMultiVolumeToEnd(true);
    ASSERT_TRUE(rar.OpenFile(platform::ansiToUtf16(first)));
    const TRARArchiveInformation& info = rar.ArchiveInformation();
    EXPECT_TRUE(info.MultiVolume());
    EXPECT_EQ(info.TotalFiles(), 2);
    EXPECT_EQ(info.CompressedSize(), 3001);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].FileName, "big.bin");
    EXPECT_EQ(items[0].CompressedSize, 3000u);

    EXPECT_TRUE(rar.Test());
}

TEST_P(RealLibrary, MissingVolumeFailsWithoutAskingForever)
{
    RarWriter w(GetParam());
    w.generated("big.bin", 3000, tavrel::test::fillPattern).volumes(3);
    const auto volumes = w.write(dir.path(), "set");
    ASSERT_TRUE(open(volumes.front().string()));
    fs::remove(volumes.back());
    EXPECT_FALSE(rar.Test());
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().operation, roListFiles);
}

TEST_P(RealLibrary, WrongCrcFailsTheTestWithBadData)
{
    RarWriter w(GetParam());
    w.file("a.txt", "hello").wrongCrc().file("b.txt", "other");
    ASSERT_TRUE(open(write(w)));
    EXPECT_FALSE(rar.Test());
    EXPECT_TRUE(rar.Aborted());
    EXPECT_EQ(errors, (std::vector<ErrorCall>{{12, roListFiles}}));
}

TEST_P(RealLibrary, ExtractKeepingOrFlatteningFolders)
{
    const std::string archive = write(tree());
    ASSERT_TRUE(open(archive));
    ASSERT_TRUE(rar.Test());

    const std::string kept = out("kept");
    EXPECT_TRUE(rar.Extract(kept, true, nullptr));
    EXPECT_EQ(testsupport::readFileBytes(fs::path(kept) / "sub" / "a.txt"), "hello");
    EXPECT_EQ(testsupport::readFileBytes(fs::path(kept) / "b.txt"), "second file");

    const std::string flat = out("flat");
    EXPECT_TRUE(rar.Extract(flat + "/", false, nullptr));
    EXPECT_EQ(testsupport::readFileBytes(fs::path(flat) / "a.txt"), "hello");
    EXPECT_FALSE(fs::exists(fs::path(flat) / "sub"));

    const std::string selected = out("selected");
    const std::vector<std::string> files{"sub/a.txt"};
    EXPECT_TRUE(rar.Extract(selected, true, &files));
    EXPECT_TRUE(fs::exists(fs::path(selected) / "sub" / "a.txt"));
    EXPECT_FALSE(fs::exists(fs::path(selected) / "b.txt"));
    EXPECT_TRUE(errors.empty());
}

TEST_P(RealLibrary, ReplaceAnswersForAnExistingFile)
{
    const std::string archive = write(tree());
    struct Row {
        TRARReplace answer;
        bool result;
        const char* bContent;
    } rows[] = {{rrOverwrite, true, "second file"}, {rrSkip, true, "old"}, {rrCancel, false, "old"}};
    for (const Row& row : rows) {
        const std::string folder = out("replace" + std::to_string(row.answer));
        testsupport::writeFileBytes(fs::path(folder) / "b.txt", "old");
        rar.OnReplace = [&](TRAR&, const TRARReplaceData&, const TRARReplaceData&, TRARReplace& action) {
            action = row.answer;
        };
        ASSERT_TRUE(open(archive));
        EXPECT_EQ(rar.Extract(folder, true, nullptr), row.result) << row.answer;
        EXPECT_EQ(testsupport::readFileBytes(fs::path(folder) / "b.txt"), row.bContent) << row.answer;
        // Entries before the answered one stay on disk whatever the answer.
        EXPECT_EQ(testsupport::readFileBytes(fs::path(folder) / "sub" / "a.txt"), "hello") << row.answer;
    }
}

TEST_P(RealLibrary, ProgressCountsEveryByteAndAbortStopsTheWalk)
{
    RarWriter w(GetParam());
    w.generated("one.bin", 200000, tavrel::test::fillPattern).file("two.txt", "12345");
    ASSERT_TRUE(open(write(w)));
    std::uint32_t archiveTotal = 0, archiveDone = 0, lastFileDone = 0;
    rar.OnProgress = [&](TRAR&, const std::u16string& name, std::uint32_t at, std::uint32_t ad, std::uint32_t ft,
                         std::uint32_t fd) {
        EXPECT_LE(fd, ft) << platform::toUtf8(name);
        archiveTotal = at;
        archiveDone = ad;
        lastFileDone = fd;
    };
    EXPECT_TRUE(rar.Test());
    EXPECT_EQ(archiveTotal, 200005u);
    EXPECT_EQ(archiveDone, 200005u);
    EXPECT_EQ(lastFileDone, 5u);

    int calls = 0;
    rar.OnProgress = [&](TRAR& sender, const std::u16string&, std::uint32_t, std::uint32_t, std::uint32_t,
                         std::uint32_t) {
        ++calls;
        sender.Abort();
    };
    EXPECT_FALSE(rar.Test());
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(rar.Aborted());
}

// A release built on Linux carries links such as libfoo.so -> libfoo.so.1.
TEST_P(RealLibrary, ReleaseWithSafeLinksInstallsThem)
{
    RarWriter w(GetParam());
    w.directory("lib").file("lib/libfoo.so.1", "library").symlink("lib/libfoo.so", "libfoo.so.1");
    w.symlink("current", "lib/./libfoo.so");
    if (GetParam() == RarFormat::Rar5)
        w.hardlink("lib/libfoo.so.1.0", "lib/libfoo.so.1");
    ASSERT_TRUE(open(write(w)));
    ASSERT_TRUE(rar.Test());
    const fs::path prog = out();
    EXPECT_TRUE(rar.Extract(prog.string(), true, nullptr));
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(fs::read_symlink(prog / "lib" / "libfoo.so"), "libfoo.so.1");
    EXPECT_EQ(testsupport::readFileBytes(prog / "current"), "library");
    if (GetParam() == RarFormat::Rar5) {
        EXPECT_TRUE(fs::equivalent(prog / "lib" / "libfoo.so.1.0", prog / "lib" / "libfoo.so.1"));
    }
}

TEST_P(RealLibrary, ReleaseWithALinkLeadingOutsideFailsAndWritesNothingThere)
{
    RarWriter w(GetParam());
    w.file("app.txt", "app").symlink("escape", "../outside").file("escape/planted.txt", "planted");
    const std::string archive = write(w);
    fs::create_directories(dir / "outside");
    ASSERT_TRUE(open(archive));
    const fs::path prog = out();
    EXPECT_FALSE(rar.Extract(prog.string(), true, nullptr));
    EXPECT_EQ(errors, (std::vector<ErrorCall>{{ERAR_ECREATE, roListFiles}}));
    EXPECT_TRUE(fs::is_empty(dir / "outside"));
    EXPECT_FALSE(fs::is_symlink(prog / "escape"));
    std::vector<std::string> outsideProg;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.path().string().rfind(prog.string(), 0) != 0)
            outsideProg.push_back(fs::relative(e.path(), dir.path()).string());
    std::sort(outsideProg.begin(), outsideProg.end());
    EXPECT_EQ(outsideProg, (std::vector<std::string>{"outside", "update.rar"}));
}

TEST_P(RealLibrary, EncryptedReleaseUnpacksWithTheHostsPassword)
{
    for (bool headers : {false, true}) {
        SCOPED_TRACE(headers ? "encrypted headers" : "encrypted entries");
        RarWriter w(GetParam());
        w.file("prog.bin", std::string(5000, 'p')).encrypted().file("notes.txt", "encrypted too").encrypted();
        w.password("release key").encryptedHeaders(headers);
        const std::string archive = write(w, headers ? "headers" : "entries");
        int asked = 0;
        std::string answer = "release key";
        rar.OnPasswordRequired = [&](TRAR&, bool, const std::string&, std::string& password, bool&) {
            ++asked;
            password = answer;
        };
        ASSERT_TRUE(open(archive));
        EXPECT_TRUE(rar.Test());
        const std::string target = out(headers ? "h" : "e");
        EXPECT_TRUE(rar.Extract(target, true, nullptr));
        EXPECT_EQ(fs::file_size(fs::path(target) / "prog.bin"), 5000u);
        EXPECT_GE(asked, 1);

        // A wrong password fails the test and writes nothing.
        answer = "guess";
        const std::string wrong = out(headers ? "hw" : "ew");
        if (open(archive)) {
            EXPECT_FALSE(rar.Extract(wrong, true, nullptr));
        }
        EXPECT_FALSE(fs::exists(fs::path(wrong) / "prog.bin"));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RealLibrary, ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                         [](const auto& info) { return info.param == RarFormat::Rar4 ? "Rar4" : "Rar5"; });

} // namespace
