// Real RAR 4.x archives made by RARLAB's tools decode with matching CRCs
// through the C interface: LZ, PPMd, PPMd and LZ blocks in one file, E8E9
// and delta filters.
#include <gtest/gtest.h>

#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;

namespace {

// Beside the project (../shared/reference/samples), or one level further up
// from a worktree; TAVREL_RAR_SAMPLES overrides.
fs::path samplesDir()
{
    if (const char* env = std::getenv("TAVREL_RAR_SAMPLES")) return env;
    for (const char* rel : {"../shared/reference/samples", "../../shared/reference/samples"}) {
        fs::path p = fs::path(UNRAR_SOURCE_DIR) / rel;
        if (fs::is_directory(p)) return p;
    }
    return "../shared/reference/samples";
}

struct SampleCase {
    const char* file;
    std::vector<std::string> names;  // every entry, in order
    uint64_t compressedBytes;        // unpacked bytes of the UnpVer 29 entries
};

class Rar29Samples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(Rar29Samples, TestAndExtractMatchTheirCrcs)
{
    const SampleCase& c = GetParam();
    const fs::path archive = samplesDir() / c.file;
    if (!fs::exists(archive)) GTEST_SKIP() << "sample archives not found at " << samplesDir();
    TempDir dir;
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(archive, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(names(walk), c.names);
        // The sample's link points inside the destination, so it is created;
        // a link's target is not file data and is never handed on as such.
        std::vector<int> codes(walk.headers.size(), ERAR_SUCCESS);
        uint64_t expected = 0;
        for (const Header& h : walk.headers) {
            const bool link = h.fileName == "testlink";
            if (!(h.raw.Flags & RHDF_DIRECTORY) && !link) expected += h.raw.UnpSize;
        }
        EXPECT_EQ(walk.processCodes, codes) << "operation " << op;
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(s.processedBytes, expected);
        uint64_t packed = 0;
        for (const Header& h : walk.headers)
            if (h.raw.UnpVer == 29) packed += h.raw.UnpSize;
        EXPECT_EQ(packed, c.compressedBytes);
    }
    for (const std::string& name : c.names)
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir / "out" / name))) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Rar4, Rar29Samples,
    ::testing::Values(
        SampleCase{"rar_binary_data.rar", {"random_data.bin", "LibarchiveAddingTest.odt"}, 1048576 + 32618},
        SampleCase{"rar_compress_best.rar",
                   {"LibarchiveAddingTest.html", "testlink", "testdir/test.txt", "testdir/LibarchiveAddingTest.html",
                    "testdir", "testemptydir"},
                   20111 + 20 + 20111},
        SampleCase{"rar_filter.rar", {"bsdcat.exe"}, 204288},
        SampleCase{"rar_ppmd_lzss_conversion.rar", {"ppmd_lzss_conversion_test.txt"}, 241647978}),
    [](const auto& info) {
        std::string n = info.param.file;
        n = n.substr(0, n.find('.'));
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

}  // namespace
