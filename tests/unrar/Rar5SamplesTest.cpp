// Real RAR 5.0 archives made by RARLAB's tools decode through our own
// decoder with matching checksums: plain, solid, ARM filter, BLAKE2sp and
// Windows-made ones, tested and extracted through the C interface.
#include <gtest/gtest.h>

#include "tests/unrar/Samples.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;

namespace {

struct Sample {
    const char* file;
    std::vector<std::pair<std::string, uint64_t>> files; // compressed or stored entries and sizes
};

class UnrarRar5Samples : public ::testing::TestWithParam<Sample> {};

TEST_P(UnrarRar5Samples, TestAndExtractMatchTheStoredChecksums)
{
    const Sample& sample = GetParam();
    if (const std::string why = missingSample(sample.file); !why.empty())
        GTEST_SKIP() << why;
    const fs::path arc = samplePath(sample.file);
    TempDir dir;
    for (int op : {RAR_TEST, RAR_EXTRACT}) {
        Session s;
        ASSERT_TRUE(s.openArchive(arc, RAR_OM_EXTRACT));
        auto walk = s.walk(op, dir / "out");
        EXPECT_EQ(walk.endCode, ERAR_END_ARCHIVE);
        uint64_t expected = 0;
        for (size_t i = 0; i < walk.headers.size(); ++i) {
            SCOPED_TRACE(walk.headers[i].fileName);
            EXPECT_EQ(walk.processCodes[i], 0);
            if (!(walk.headers[i].raw.Flags & RHDF_DIRECTORY))
                expected += walk.headers[i].raw.UnpSize;
        }
        EXPECT_EQ(s.processedBytes, expected);
    }
    for (const auto& [name, size] : sample.files) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(fs::exists(dir / "out" / name));
        EXPECT_EQ(fs::file_size(dir / "out" / name), size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Samples, UnrarRar5Samples,
    ::testing::Values(Sample{"rar5_compressed.rar", {{"test.bin", 1200}}},
                      Sample{"rar5_multiple_files_solid.rar",
                             {{"test1.bin", 4096}, {"test2.bin", 4096}, {"test3.bin", 4096}, {"test4.bin", 4096}}},
                      Sample{"rar5_arm.rar", {{"elf-Linux-ARMv7-ls", 90808}}},
                      Sample{"rar5_blake2.rar", {{"cebula.txt", 814}}},
                      Sample{"rar5_win32.rar", {{"test.bin", 1200}, {"test1.bin", 4096}, {"test6.bin", 4096}}}),
    [](const auto& info) {
        std::string n = info.param.file;
        return n.substr(0, n.find('.'));
    });

} // namespace
