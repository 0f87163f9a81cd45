// Real RAR 5.0 archives made by RARLAB's tools decode through our own
// decoder with matching checksums: plain, solid, ARM filter, BLAKE2sp and
// Windows-made ones, tested and extracted through the C interface.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;

namespace {

// The samples live beside the project (../shared/reference/samples), from
// a worktree one level further up; TAVREL_RAR_SAMPLES overrides.
fs::path samplesFolder()
{
    if (const char* env = std::getenv("TAVREL_RAR_SAMPLES")) return env;
    for (const char* rel : {"../shared/reference/samples", "../../shared/reference/samples"}) {
        fs::path p = fs::path(UNRAR_SOURCE_DIR) / rel;
        if (fs::is_directory(p)) return p;
    }
    return {};
}

struct Sample {
    const char* file;
    std::vector<std::pair<std::string, uint64_t>> files;  // compressed or stored entries and sizes
};

class UnrarRar5Samples : public ::testing::TestWithParam<Sample> {};

TEST_P(UnrarRar5Samples, TestAndExtractMatchTheStoredChecksums)
{
    const fs::path folder = samplesFolder();
    if (folder.empty()) GTEST_SKIP() << "the RAR sample archives (../shared/reference/samples) are not here";
    const Sample& sample = GetParam();
    const fs::path arc = folder / sample.file;
    if (!fs::exists(arc)) GTEST_SKIP() << arc << " is missing";
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
            if (!(walk.headers[i].raw.Flags & RHDF_DIRECTORY)) expected += walk.headers[i].raw.UnpSize;
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

}  // namespace
