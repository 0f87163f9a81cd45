// The fixture writer's archives read by libarchive as well, so that the
// library's tests do not rest on a writer and reader sharing one mistake.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <zlib.h>

#include <clocale>
#include <map>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::fillPattern;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using tavrel::test::VolumeNaming;

namespace {

// Size and CRC: a failure message stays readable for large entries.
std::string digest(const std::string& data)
{
    return std::to_string(data.size()) + ":" +
           std::to_string(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// Every entry's name and content digest (folders as "<dir>"), or an error text.
std::map<std::string, std::string> readWithLibarchive(const std::vector<fs::path>& volumes)
{
    std::setlocale(LC_ALL, "C.UTF-8"); // names are converted through the locale
    std::map<std::string, std::string> out;
    struct archive* a = archive_read_new();
    archive_read_support_format_rar(a);
    archive_read_support_format_rar5(a);
    std::vector<std::string> names;
    for (const fs::path& v : volumes)
        names.push_back(v.string());
    std::vector<const char*> list;
    for (const std::string& n : names)
        list.push_back(n.c_str());
    list.push_back(nullptr);
    if (archive_read_open_filenames(a, list.data(), 65536) != ARCHIVE_OK) {
        out["<error>"] = archive_error_string(a);
        archive_read_free(a);
        return out;
    }
    struct archive_entry* e;
    int r;
    while ((r = archive_read_next_header(a, &e)) == ARCHIVE_OK) {
        std::string name = archive_entry_pathname_utf8(e);
        if (archive_entry_filetype(e) == AE_IFDIR) {
            out[name] = "<dir>";
            continue;
        }
        std::string data;
        char buf[65536];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0)
            data.append(buf, static_cast<size_t>(n));
        out[name] = n < 0 ? "<error>" : digest(data);
    }
    if (r != ARCHIVE_EOF)
        out["<error>"] = archive_error_string(a);
    archive_read_free(a);
    return out;
}

class RarWriterCrossCheck : public ::testing::TestWithParam<RarFormat> {};

TEST_P(RarWriterCrossCheck, LibarchiveReadsWhatTheWriterWrote)
{
    TempDir dir;
    std::string generated(300000, '\0');
    fillPattern(0, generated);
    auto single = RarWriter(GetParam())
                      .directory("docs")
                      .file("a.txt", "hello world\n")
                      .file("docs/sub/Папка.txt", "вложенный")
                      .file("empty", "")
                      .generated("gen.bin", generated.size(), fillPattern)
                      .comment("Archive comment text")
                      .write(dir.path(), "single");
    std::map<std::string, std::string> expected{{"docs", "<dir>"},
                                                {"a.txt", digest("hello world\n")},
                                                {"docs/sub/Папка.txt", digest("вложенный")},
                                                {"empty", digest("")},
                                                {"gen.bin", digest(generated)}};
    EXPECT_EQ(readWithLibarchive(single), expected);

    for (VolumeNaming naming : {VolumeNaming::New, VolumeNaming::Old}) {
        if (GetParam() == RarFormat::Rar5 && naming == VolumeNaming::Old)
            continue;
        auto set = RarWriter(GetParam())
                       .generated("gen.bin", generated.size(), fillPattern)
                       .file("after.txt", "after")
                       .volumes(3, naming)
                       .write(dir.path(), naming == VolumeNaming::New ? "new" : "old");
        EXPECT_EQ(set.size(), 3u);
        EXPECT_EQ(readWithLibarchive(set),
                  (std::map<std::string, std::string>{{"gen.bin", digest(generated)}, {"after.txt", digest("after")}}));
    }
}

TEST_P(RarWriterCrossCheck, BsdtarExtractsASingleArchive)
{
    TempDir dir;
    auto arc = RarWriter(GetParam()).file("docs/a.txt", "hello world\n").write(dir.path(), "b").front();
    fs::create_directory(dir / "x");
    std::string cmd = "cd '" + (dir / "x").string() + "' && bsdtar -xf '" + arc.string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(readFile(dir / "x/docs/a.txt"), "hello world\n");
}

// The LZ encoder's streams (matches, repeat distances, every filter type,
// a solid stream) decode in libarchive too: our decoder's tests on them do
// not rest on an encoder and decoder sharing one mistake.
TEST(RarWriterCrossCheck, LibarchiveDecodesTheLzEncodersStreams)
{
    using tavrel::test::Rar5Filter;
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 200000; ++i)
        text += "line " + std::to_string(i * 7919 % 1000) + " of the release notes\n";
    std::string bin(150000, '\0');
    for (size_t i = 0; i < bin.size(); ++i)
        bin[i] = static_cast<char>(i % 37 == 0 ? 0xE8 : i % 4 == 3 && i % 3 == 0 ? 0xEB : (i * 7) >> 3);
    const std::vector<Rar5Filter> filters = {{Rar5Filter::Delta, 100, 20000, 4},
                                             {Rar5Filter::E8, 30000, 30000, 1},
                                             {Rar5Filter::E8E9, 60000, 40000, 1},
                                             {Rar5Filter::Arm, 100001, 40000, 1}};
    for (bool solid : {false, true}) {
        auto arc = RarWriter(RarFormat::Rar5)
                       .lzCompressed("text.txt", text)
                       .lzCompressed("bin.bin", bin, filters)
                       .lzCompressed("again.txt", text.substr(5000) + bin.substr(0, 1000))
                       .solid(solid)
                       .write(dir.path(), solid ? "solid" : "plain");
        EXPECT_EQ(readWithLibarchive(arc),
                  (std::map<std::string, std::string>{{"text.txt", digest(text)},
                                                      {"bin.bin", digest(bin)},
                                                      {"again.txt", digest(text.substr(5000) + bin.substr(0, 1000))}}));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RarWriterCrossCheck, ::testing::Values(RarFormat::Rar4, RarFormat::Rar5),
                         [](const auto& info) { return info.param == RarFormat::Rar4 ? "Rar4" : "Rar5"; });

} // namespace
