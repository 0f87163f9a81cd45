// Real RAR 4.x archives made by RARLAB's tools decode with matching CRCs
// through the C interface: LZ, PPMd, PPMd and LZ blocks in one file, E8E9
// and delta filters.
#include <gtest/gtest.h>

#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;

namespace {

struct SampleCase {
    const char* file;
    std::vector<std::string> names; // every entry, in order
    uint64_t compressedBytes;       // unpacked bytes of the UnpVer 29 entries
};

class Rar29Samples : public ::testing::TestWithParam<SampleCase> {};

TEST_P(Rar29Samples, TestAndExtractMatchTheirCrcs)
{
    const SampleCase& c = GetParam();
    if (const std::string why = missingSample(c.file); !why.empty())
        GTEST_SKIP() << why;
    const fs::path archive = samplePath(c.file);
    TempDir dir;
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(archive, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(names(walk), c.names);
        // A link's data is its target, made into the link (LinksTest.cpp),
        // not handed over as file data.
        uint64_t expected = 0;
        for (const Header& h : walk.headers)
            if (!(h.raw.Flags & RHDF_DIRECTORY) && h.fileName != "testlink")
                expected += h.raw.UnpSize;
        EXPECT_EQ(walk.processCodes, std::vector<int>(walk.headers.size(), 0)) << "operation " << op;
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(s.processedBytes, expected);
        uint64_t packed = 0;
        for (const Header& h : walk.headers)
            if (h.raw.UnpVer == 29)
                packed += h.raw.UnpSize;
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
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

} // namespace
