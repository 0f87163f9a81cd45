// Nothing is created or changed outside the destination folder, and no
// header field is trusted.
#include <gtest/gtest.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarEntry;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;

namespace {

// Everything below `root`, as relative paths, links not followed.
std::vector<std::string> tree(const fs::path& root)
{
    std::vector<std::string> out;
    if (!fs::exists(root))
        return out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        out.push_back(fs::relative(it->path(), root).generic_string() + (it->is_symlink() ? "@" : ""));
    std::sort(out.begin(), out.end());
    return out;
}

struct NameCase {
    const char* label;
    std::string name;
    bool directory;
};

class UnrarEscapingName : public ::testing::TestWithParam<std::tuple<RarFormat, NameCase>> {};

TEST_P(UnrarEscapingName, IsRefusedAndNothingLandsOutside)
{
    auto [format, c] = GetParam();
    TempDir dir;
    fs::path dest = dir / "nest/out";
    fs::create_directories(dest);
    RarEntry e;
    e.name = c.name;
    e.rawName = true;
    e.kind = c.directory ? RarEntry::Kind::Directory : RarEntry::Kind::File;
    e.data = c.directory ? "" : "escaped";
    e.unixHost = true;
    e.attributes = c.directory ? 040000 : 0100777; // a folder entry with mode 000
    fs::path arc = RarWriter(format).entry(e).file("ok.txt", "fine").write(dir.path(), "evil").front();
    const fs::perms before = fs::status(dest).permissions();

    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto w = s.walk(RAR_EXTRACT, dest);
    EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_ECREATE, 0}));
    EXPECT_EQ(tree(dir.path()), (std::vector<std::string>{"evil.rar", "nest", "nest/out", "nest/out/ok.txt"}));
    EXPECT_EQ(fs::status(dest).permissions(), before);
    EXPECT_FALSE(fs::exists("/tmp/unrar-escaped.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnrarEscapingName,
    ::testing::Combine(
        ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
        ::testing::Values(
            NameCase{"ParentFirst", "../evil.txt", false}, NameCase{"ParentInside", "docs/../../evil.txt", false},
            NameCase{"ParentBackslash", "..\\evil.txt", false}, NameCase{"Absolute", "/tmp/unrar-escaped.txt", false},
            NameCase{"DriveLetter", "C:\\evil.txt", false}, NameCase{"DriveRelative", "C:evil.txt", false},
            NameCase{"Unc", "\\\\server\\share\\evil.txt", false}, NameCase{"JustDotDot", "..", true},
            NameCase{"JustDot", ".", true}, NameCase{"DotFolder", "./", true},
            NameCase { "Empty", "", false }
#ifdef _WIN32
            // Names Windows would take for a device, a stream or another name
            ,
            NameCase{"Device", "CON", false}, NameCase{"DeviceWithExtension", "aux.txt", false},
            NameCase{"DeviceFolder", "NUL/evil.txt", false}, NameCase{"TrailingDot", "evil.", false},
            NameCase{"TrailingSpace", "evil.txt ", false}, NameCase{"Stream", "ok.txt:hidden", false},
            NameCase{"BackslashParentInside", "docs\\..\\..\\evil.txt", false}
#endif
            )),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == RarFormat::Rar4 ? "Rar4" : "Rar5") +
               std::get<1>(info.param).label;
    });

class UnrarLinks : public ::testing::TestWithParam<RarFormat> {};

TEST_P(UnrarLinks, LinksLeadingOutsideAreNotCreatedAndNothingIsWrittenThroughThem)
{
    TempDir dir;
    fs::path outside = dir / "outside";
    fs::create_directories(outside);
    RarWriter w(GetParam());
    w.symlink("link", outside.string()).file("link/planted.txt", "through the link");
    if (GetParam() == RarFormat::Rar5)
        w.hardlink("hard", (outside / "victim").string());
    writeFile(outside / "victim", "victim");
    fs::path arc = w.write(dir.path(), "links").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dir / "out");
    std::vector<int> expected{ERAR_ECREATE, 0};
    if (GetParam() == RarFormat::Rar5)
        expected.push_back(ERAR_ECREATE);
    EXPECT_EQ(walk.processCodes, expected);
    EXPECT_EQ(tree(outside), std::vector<std::string>{"victim"});
    EXPECT_EQ(readFile(outside / "victim"), "victim");
    EXPECT_EQ(tree(dir / "out"), (std::vector<std::string>{"link", "link/planted.txt"}));
}

TEST_P(UnrarLinks, ALinkAlreadyInTheDestinationIsNeverFollowed)
{
    TempDir dir;
    fs::path outside = dir / "outside";
    fs::path dest = dir / "out";
    fs::create_directories(outside);
    fs::create_directories(dest);
    writeFile(outside / "victim", "victim");
    fs::create_directory_symlink(outside, dest / "sub");
    fs::create_symlink(outside / "victim", dest / "a.txt");
    fs::path arc = RarWriter(GetParam()).file("sub/x.txt", "x").file("a.txt", "new").write(dir.path(), "p").front();
    Session s;
    ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
    auto walk = s.walk(RAR_EXTRACT, dest);
    EXPECT_EQ(walk.processCodes, (std::vector<int>{ERAR_ECREATE, 0}));
    EXPECT_EQ(tree(outside), std::vector<std::string>{"victim"});
    EXPECT_EQ(readFile(outside / "victim"), "victim");
    // The link at a file's name is replaced by the file, not written through.
    EXPECT_FALSE(fs::is_symlink(dest / "a.txt"));
    EXPECT_EQ(readFile(dest / "a.txt"), "new");
}

TEST_P(UnrarLinks, SizesClaimedByTheHeaderAreNotTrusted)
{
    TempDir dir;
    fs::path dest = dir / "out";
    fs::create_directories(dest);
    writeFile(dest / "big.bin", "good");
    writeFile(dest / "cut.bin", "good");
    fs::path claims =
        RarWriter(GetParam()).file("big.bin", "tiny").claimSize(1ULL << 40).write(dir.path(), "claims").front();
    fs::path cut = RarWriter(GetParam()).file("cut.bin", std::string(100000, 'c')).write(dir.path(), "cut").front();
    fs::resize_file(cut, 50000);
    for (const fs::path& arc : {claims, cut}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(RAR_EXTRACT, dest);
        EXPECT_EQ(walk.processCodes, std::vector<int>{ERAR_BAD_DATA}) << arc;
    }
    EXPECT_EQ(tree(dest), (std::vector<std::string>{"big.bin", "cut.bin"}));
    EXPECT_EQ(readFile(dest / "big.bin"), "good");
    EXPECT_EQ(readFile(dest / "cut.bin"), "good");
}

INSTANTIATE_TEST_SUITE_P(Formats, UnrarLinks, ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                         [](const auto& info) { return info.param == RarFormat::Rar4 ? "Rar4" : "Rar5"; });

} // namespace
