// Link entries: symbolic links whose targets stay inside the destination are
// created, everything else is refused; hard links and file copies name only
// files this extraction wrote; testing a link sends no data.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarEntry;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

const char* formatName(RarFormat f) { return f == RarFormat::Rar4 ? "Rar4" : "Rar5"; }

struct SymlinkCase {
    const char* label;
    RarFormat format;
    RarEntry::Kind kind;
    std::string target;
    int code;
    std::string created; // the link's text on disk when created
};

class UnrarSymlink : public ::testing::TestWithParam<SymlinkCase> {};

TEST_P(UnrarSymlink, IsCreatedOnlyWhenItsTargetStaysInside)
{
    const SymlinkCase& c = GetParam();
    TempDir dir;
    fs::path dest = dir / "prog";
    RarEntry link;
    link.kind = c.kind;
    link.name = "lib/libfoo.so";
    link.linkTarget = c.target;
    link.unixHost = c.kind == RarEntry::Kind::Symlink;
    if (c.format == RarFormat::Rar4)
        link.data = c.target;
    RarWriter w(c.format);
    w.directory("lib").file("lib/libfoo.so.1", "library").entry(link).file("after.txt", "after");
    fs::path arc = w.write(dir.path(), "links").front();

    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dest);
    EXPECT_EQ(walk.processCodes, (std::vector<int>{0, 0, c.code, 0}));
    EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
    if (c.code == 0) {
        ASSERT_TRUE(fs::is_symlink(dest / "lib/libfoo.so"));
        EXPECT_EQ(fs::read_symlink(dest / "lib/libfoo.so").string(), c.created);
        EXPECT_EQ(readFile(dest / "lib/libfoo.so"), "library");
    } else {
        EXPECT_FALSE(fs::exists(fs::symlink_status(dest / "lib/libfoo.so")));
    }
    EXPECT_EQ(readFile(dest / "after.txt"), "after");
    // Nothing of the link's is left beside the destination's content.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dest / "lib"))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names.size(), c.code == 0 ? 2u : 1u);
}

using K = RarEntry::Kind;
INSTANTIATE_TEST_SUITE_P(
    Targets, UnrarSymlink,
    ::testing::Values(
        SymlinkCase{"Sibling", RarFormat::Rar5, K::Symlink, "libfoo.so.1", 0, "libfoo.so.1"},
        SymlinkCase{"Sibling", RarFormat::Rar4, K::Symlink, "libfoo.so.1", 0, "libfoo.so.1"},
        SymlinkCase{"UpAndDown", RarFormat::Rar5, K::Symlink, "../lib/./libfoo.so.1", 0, "../lib/./libfoo.so.1"},
        SymlinkCase{"UpAndDown", RarFormat::Rar4, K::Symlink, "../lib/libfoo.so.1", 0, "../lib/libfoo.so.1"},
        SymlinkCase{"WindowsRelative", RarFormat::Rar5, K::WindowsSymlink, "..\\lib\\libfoo.so.1", 0,
                    "../lib/libfoo.so.1"},
        SymlinkCase{"Absolute", RarFormat::Rar5, K::Symlink, "/etc/passwd", ERAR_ECREATE, ""},
        SymlinkCase{"Absolute", RarFormat::Rar4, K::Symlink, "/etc/passwd", ERAR_ECREATE, ""},
        SymlinkCase{"ClimbsOut", RarFormat::Rar5, K::Symlink, "../../outside", ERAR_ECREATE, ""},
        SymlinkCase{"ClimbsOut", RarFormat::Rar4, K::Symlink, "../../outside", ERAR_ECREATE, ""},
        SymlinkCase{"ClimbsOutAndBack", RarFormat::Rar5, K::Symlink, "../../prog/lib/libfoo.so.1", ERAR_ECREATE, ""},
        SymlinkCase{"BackslashClimb", RarFormat::Rar5, K::Symlink, "..\\..\\outside", ERAR_ECREATE, ""},
        SymlinkCase{"DriveLetter", RarFormat::Rar5, K::WindowsSymlink, "C:\\Windows", ERAR_ECREATE, ""},
        SymlinkCase{"DeviceForm", RarFormat::Rar5, K::WindowsSymlink, "\\??\\C:\\Windows", ERAR_ECREATE, ""},
        SymlinkCase{"Unc", RarFormat::Rar5, K::WindowsSymlink, "\\\\server\\share", ERAR_ECREATE, ""},
        SymlinkCase{"Junction", RarFormat::Rar5, K::Junction, "libfoo.so.1", ERAR_ECREATE, ""},
        SymlinkCase{"Empty", RarFormat::Rar5, K::Symlink, "", ERAR_ECREATE, ""},
        SymlinkCase{"Empty", RarFormat::Rar4, K::Symlink, "", ERAR_ECREATE, ""}),
    [](const auto& info) { return std::string(formatName(info.param.format)) + info.param.label; });

// Two links, each harmless alone, that together would lead outside: the
// second may not pass through (or be passed through by) the first.
TEST(UnrarSymlink, NoLinkLeadsThroughAnotherInEitherOrder)
{
    for (bool throughFirst : {false, true}) {
        TempDir dir;
        fs::path dest = dir / "prog";
        RarWriter w(RarFormat::Rar5);
        w.directory("a");
        if (throughFirst)
            w.symlink("x", "a/up/..").symlink("a/up", "..");
        else
            w.symlink("a/up", "..").symlink("x", "a/up/..");
        fs::path arc = w.write(dir.path(), "chain").front();
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(RAR_EXTRACT, dest);
        EXPECT_EQ(walk.processCodes, (std::vector<int>{0, 0, ERAR_ECREATE})) << throughFirst;
        // Whatever was made, nothing resolves to a place outside the destination.
        for (const char* name : {"x", "a/up"}) {
            std::error_code ec;
            fs::path real = fs::canonical(dest / name, ec);
            if (!ec) {
                EXPECT_EQ(real.string().rfind(fs::canonical(dest).string(), 0), 0u) << name;
            }
        }
    }
}

TEST(UnrarHardLink, NamesOnlyAFileThisExtractionWrote)
{
    TempDir dir;
    fs::path dest = dir / "prog";
    fs::create_directories(dest);
    writeFile(dest / "existing.txt", "was here");
    writeFile(dir / "outside.txt", "outside");
    RarWriter w(RarFormat::Rar5);
    w.file("bin/tool", "tool data")
        .hardlink("bin/tool2", "bin/tool")
        .fileCopy("share/tool.copy", "bin/tool")
        .hardlink("existing2.txt", "existing.txt")
        .hardlink("escape.txt", "../outside.txt")
        .fileCopy("missing.copy", "no/such/file")
        .symlink("bin/tool", "tool2") // the written file's name now holds a link
        .hardlink("through.txt", "bin/tool");
    fs::path arc = w.write(dir.path(), "hard").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dest);
    EXPECT_EQ(walk.processCodes,
              (std::vector<int>{0, 0, 0, ERAR_ECREATE, ERAR_ECREATE, ERAR_ECREATE, 0, ERAR_ECREATE}));
    struct stat tool2, copy;
    ASSERT_EQ(::stat((dest / "bin/tool2").c_str(), &tool2), 0);
    EXPECT_EQ(tool2.st_nlink, 1u); // its first name was replaced by the link
    EXPECT_EQ(readFile(dest / "bin/tool"), "tool data");
    ASSERT_EQ(::stat((dest / "share/tool.copy").c_str(), &copy), 0);
    EXPECT_NE(copy.st_ino, tool2.st_ino);
    EXPECT_EQ(readFile(dest / "share/tool.copy"), "tool data");
    EXPECT_EQ(readFile(dest / "existing.txt"), "was here");
    EXPECT_EQ(readFile(dir / "outside.txt"), "outside");
    for (const char* refused : {"existing2.txt", "escape.txt", "missing.copy", "through.txt"})
        EXPECT_FALSE(fs::exists(fs::symlink_status(dest / refused))) << refused;
}

TEST(UnrarHardLink, SharesTheFileItNames)
{
    TempDir dir;
    fs::path dest = dir / "prog";
    fs::path arc =
        RarWriter(RarFormat::Rar5).file("a.txt", "data").hardlink("b.txt", "a.txt").write(dir.path(), "h").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    EXPECT_EQ(s.walk(RAR_EXTRACT, dest).processCodes, (std::vector<int>{0, 0}));
    EXPECT_TRUE(fs::equivalent(dest / "a.txt", dest / "b.txt"));
}

class UnrarLinkTest : public ::testing::TestWithParam<RarFormat> {};

TEST_P(UnrarLinkTest, SucceedsWithoutDataForTheApplication)
{
    TempDir dir;
    RarWriter w(GetParam());
    w.file("a.txt", "data").symlink("abs", "/etc/passwd").symlink("rel", "a.txt");
    if (GetParam() == RarFormat::Rar5)
        w.hardlink("h", "a.txt").fileCopy("c", "a.txt").windowsSymlink("w", "a.txt").junction("j", "C:\\x");
    fs::path arc = w.write(dir.path(), "t").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_TEST);
    EXPECT_EQ(walk.processCodes, std::vector<int>(walk.headers.size(), 0));
    EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
    EXPECT_EQ(s.processedBytes, 4u); // only a.txt
    EXPECT_FALSE(fs::exists(dir / "a.txt"));
}

INSTANTIATE_TEST_SUITE_P(Formats, UnrarLinkTest, ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                         [](const auto& info) { return formatName(info.param); });

// Archives made by RAR itself, with a RAR 5.0 file and folder link and a
// RAR 4.x Unix link.
TEST(UnrarLinkSamples, ExtractWithTheirLinks)
{
    struct Sample {
        const char* file;
        std::vector<std::pair<std::string, std::string>> links; // name, target
    };
    const std::vector<Sample> samples = {Sample{"rar5_symlink.rar", {{"symlink.txt", "file.txt"}, {"dirlink", "dir"}}},
                                         Sample{"rar.rar", {{"testlink", "test.txt"}}}};
    for (const Sample& sample : samples)
        if (const std::string why = missingSample(sample.file); !why.empty())
            GTEST_SKIP() << why;
    for (const Sample& sample : samples) {
        TempDir dir;
        for (int op : {RAR_TEST, RAR_EXTRACT}) {
            Session s;
            ASSERT_TRUE(s.openArchive(samplePath(sample.file), RAR_OM_EXTRACT)) << sample.file;
            auto walk = s.walk(op, dir / "out");
            EXPECT_EQ(walk.processCodes, std::vector<int>(walk.headers.size(), 0)) << sample.file << " " << op;
            EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE) << sample.file;
        }
        for (const auto& [name, target] : sample.links) {
            ASSERT_TRUE(fs::is_symlink(dir / "out" / name)) << name;
            EXPECT_EQ(fs::read_symlink(dir / "out" / name).string(), target);
        }
    }
}

} // namespace
