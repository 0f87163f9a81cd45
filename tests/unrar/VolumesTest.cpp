// Multi-volume sets: walking the parts, volume callbacks, missing volumes.
#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/RarWriter.h"
#include "tests/unrar/UnrarHarness.h"

using namespace unrar_test;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using tavrel::test::VolumeNaming;

namespace {

struct SetCase {
    const char* name;
    RarFormat format;
    VolumeNaming naming;
};

std::string bigData()
{
    std::string s(3000, '\0');
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<char>('a' + i % 26);
    return s;
}

class UnrarVolumes : public ::testing::TestWithParam<SetCase> {
protected:
    void SetUp() override
    {
        paths = RarWriter(GetParam().format)
                    .file("big.bin", bigData())
                    .file("after.txt", "after")
                    .volumes(3, GetParam().naming)
                    .write(dir.path(), "set");
    }
    std::vector<Message> expectedNotifications(size_t from = 1) const
    {
        std::vector<Message> out;
        for (size_t i = from; i < paths.size(); ++i) {
            out.push_back({UCM_CHANGEVOLUMEW, paths[i].string(), RAR_VOL_NOTIFY});
            out.push_back({UCM_CHANGEVOLUME, paths[i].string(), RAR_VOL_NOTIFY});
        }
        return out;
    }
    static std::vector<std::pair<unsigned, std::string>> volumeMessages(const Session& s)
    {
        std::vector<std::pair<unsigned, std::string>> out;
        for (const Message& m : s.messages)
            if (m.msg == UCM_CHANGEVOLUME || m.msg == UCM_CHANGEVOLUMEW)
                out.emplace_back(m.msg * 10 + static_cast<unsigned>(m.mode), m.text);
        return out;
    }
    static std::vector<std::pair<unsigned, std::string>> asPairs(const std::vector<Message>& ms)
    {
        std::vector<std::pair<unsigned, std::string>> out;
        for (const Message& m : ms)
            out.emplace_back(m.msg * 10 + static_cast<unsigned>(m.mode), m.text);
        return out;
    }
    TempDir dir;
    std::vector<fs::path> paths;
};

TEST_P(UnrarVolumes, ExtractFollowsTheSetAndNotifiesEachVolume)
{
    Session s;
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
    auto w = s.walk(RAR_EXTRACT, dir / "out");
    EXPECT_EQ(names(w), (std::vector<std::string>{"big.bin", "after.txt"}));
    EXPECT_EQ(w.processCodes, (std::vector<int>{0, 0}));
    EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
    EXPECT_EQ(readFile(dir / "out/big.bin"), bigData());
    EXPECT_EQ(readFile(dir / "out/after.txt"), "after");
    EXPECT_EQ(volumeMessages(s), asPairs(expectedNotifications()));
    EXPECT_EQ(w.headers[1].arcName, paths[2].string());
}

TEST_P(UnrarVolumes, ListReportsASplitFileOnceAndIncSplitEveryPart)
{
    Session list;
    ASSERT_TRUE(list.openArchive(paths[0], RAR_OM_LIST));
    auto w = list.walk(RAR_SKIP);
    EXPECT_EQ(names(w), (std::vector<std::string>{"big.bin", "after.txt"}));
    EXPECT_EQ(w.headers[0].raw.Flags, unsigned(RHDF_SPLITAFTER));
    EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);

    Session parts;
    ASSERT_TRUE(parts.openArchive(paths[0], RAR_OM_LIST_INCSPLIT));
    auto p = parts.walk(RAR_SKIP);
    ASSERT_EQ(names(p), (std::vector<std::string>{"big.bin", "big.bin", "big.bin", "after.txt"}));
    EXPECT_EQ(p.headers[0].raw.Flags, unsigned(RHDF_SPLITAFTER));
    EXPECT_EQ(p.headers[1].raw.Flags, unsigned(RHDF_SPLITBEFORE | RHDF_SPLITAFTER));
    EXPECT_EQ(p.headers[2].raw.Flags, unsigned(RHDF_SPLITBEFORE));
    uint64_t packed = 0;
    for (int i = 0; i < 3; ++i)
        packed += p.headers[i].raw.PackSize;
    EXPECT_EQ(packed, 3000u);
    std::string data = bigData();
    EXPECT_EQ(p.headers[2].raw.FileCRC, crc32(0, reinterpret_cast<const Bytef*>(data.data()), 3000));
    EXPECT_EQ(p.headers[2].raw.UnpSize, 3000u);
}

// Which call each volume notification arrives in: skipping a file continued
// in the next volume moves there inside RARProcessFile.
TEST_P(UnrarVolumes, ListingMovesToTheNextVolumeWhileSkippingAContinuedFile)
{
    struct ModeCase {
        unsigned mode;
        std::vector<std::string> steps; // call, then the volumes notified during it
    };
    const std::string v2 = paths[1].filename().string(), v3 = paths[2].filename().string();
    for (const ModeCase& c :
         {ModeCase{RAR_OM_LIST, {"read big.bin", "skip " + v2, "read after.txt " + v3, "skip", "read end"}},
          ModeCase{RAR_OM_LIST_INCSPLIT,
                   {"read big.bin", "skip " + v2, "read big.bin", "skip " + v3, "read big.bin", "skip",
                    "read after.txt", "skip", "read end"}}}) {
        Session s;
        ASSERT_TRUE(s.openArchive(paths[0], c.mode));
        std::vector<std::string> steps;
        auto notified = [&](std::string step) {
            for (const Message& m : s.messages)
                if (m.msg == UCM_CHANGEVOLUMEW && m.mode == RAR_VOL_NOTIFY)
                    step += " " + fs::path(m.text).filename().string();
            s.messages.clear();
            steps.push_back(step);
        };
        for (int guard = 0; guard < 10; ++guard) {
            Header h;
            const int r = s.readHeader(h);
            notified(r == 0 ? "read " + h.fileName : "read end");
            if (r != 0)
                break;
            EXPECT_EQ(s.process(RAR_SKIP), 0);
            notified("skip");
        }
        EXPECT_EQ(steps, c.steps) << c.mode;
    }
}

TEST_P(UnrarVolumes, MissingVolumeIsAskedForAndCancelGivesEOpen)
{
    fs::remove(paths[1]);
    Session s;
    s.onMessage = [](unsigned msg, RAR_LPARAM, RAR_LPARAM mode) {
        return (msg == UCM_CHANGEVOLUME || msg == UCM_CHANGEVOLUMEW) && mode == RAR_VOL_ASK ? -1 : 1;
    };
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_TEST), ERAR_EOPEN);
    EXPECT_EQ(volumeMessages(s), (std::vector<std::pair<unsigned, std::string>>{
                                     {UCM_CHANGEVOLUMEW * 10 + RAR_VOL_ASK, paths[1].string()}}));
}

TEST_P(UnrarVolumes, ANewNameFromTheCallbackIsOpened)
{
    // The rest of the set was moved elsewhere; later names follow the new one.
    fs::create_directory(dir / "other");
    fs::path moved = dir / "other" / paths[1].filename();
    fs::rename(paths[1], moved);
    fs::rename(paths[2], dir / "other" / paths[2].filename());
    Session s;
    s.onMessage = [&](unsigned msg, RAR_LPARAM p1, RAR_LPARAM mode) {
        char* name = reinterpret_cast<char*>(p1);
        if (msg == UCM_CHANGEVOLUME && mode == RAR_VOL_ASK && paths[1] == name)
            std::strcpy(name, moved.string().c_str());
        return 1;
    };
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_TEST), 0);
    EXPECT_EQ(s.processedBytes, 3000u);
    auto vm = volumeMessages(s);
    ASSERT_GE(vm.size(), 4u);
    EXPECT_EQ(vm[0], std::make_pair(unsigned(UCM_CHANGEVOLUMEW * 10 + RAR_VOL_ASK), paths[1].string()));
    EXPECT_EQ(vm[1], std::make_pair(unsigned(UCM_CHANGEVOLUME * 10 + RAR_VOL_ASK), paths[1].string()));
    EXPECT_EQ(vm[2], std::make_pair(unsigned(UCM_CHANGEVOLUMEW * 10 + RAR_VOL_NOTIFY), moved.string()));
}

TEST_P(UnrarVolumes, AVolumeNamedTwiceEndsInsteadOfLooping)
{
    Session s;
    // Always answers with the first volume: a set that would never end.
    s.onMessage = [&](unsigned msg, RAR_LPARAM p1, RAR_LPARAM mode) {
        if (msg == UCM_CHANGEVOLUME && mode == RAR_VOL_ASK)
            std::strcpy(reinterpret_cast<char*>(p1), paths[0].string().c_str());
        return 1;
    };
    fs::remove(paths[1]);
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
    Header h;
    ASSERT_EQ(s.readHeader(h), 0);
    EXPECT_EQ(s.process(RAR_TEST), ERAR_EOPEN);
}

TEST_P(UnrarVolumes, WithoutACallbackAMissingVolumeIsEOpen)
{
    fs::remove(paths[2]);
    Session s;
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_LIST, false));
    auto w = s.walk(RAR_SKIP);
    EXPECT_EQ(w.endCode, ERAR_EOPEN);
}

TEST_P(UnrarVolumes, ALaterVolumeStartsWithAContinuationThatCannotBeTested)
{
    Session s;
    ASSERT_TRUE(s.openArchive(paths[2], RAR_OM_EXTRACT));
    auto w = s.walk(RAR_TEST);
    ASSERT_EQ(names(w), (std::vector<std::string>{"big.bin", "after.txt"}));
    EXPECT_EQ(w.headers[0].raw.Flags, unsigned(RHDF_SPLITBEFORE));
    EXPECT_EQ(w.processCodes, (std::vector<int>{ERAR_BAD_DATA, 0}));
}

TEST_P(UnrarVolumes, SkippingASplitFileInExtractModeShowsItsContinuation)
{
    Session s;
    ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
    auto w = s.walk(RAR_SKIP);
    EXPECT_EQ(names(w), (std::vector<std::string>{"big.bin", "big.bin", "big.bin", "after.txt"}));
    EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
}

TEST(UnrarVolumeNames, ElevenVolumesKeepTheNumberWidthAndCarry)
{
    for (auto [format, naming] :
         {std::pair{RarFormat::Rar5, VolumeNaming::New}, std::pair{RarFormat::Rar4, VolumeNaming::Old}}) {
        TempDir dir;
        auto paths = RarWriter(format).file("big.bin", bigData()).volumes(11, naming).write(dir.path(), "many");
        EXPECT_EQ(paths[9].filename(), naming == VolumeNaming::New ? "many.part10.rar" : "many.r08");
        Session s;
        ASSERT_TRUE(s.openArchive(paths[0], RAR_OM_EXTRACT));
        auto w = s.walk(RAR_TEST);
        EXPECT_EQ(w.processCodes, std::vector<int>{0});
        EXPECT_EQ(w.endCode, ERAR_END_ARCHIVE);
        EXPECT_EQ(s.processedBytes, 3000u);
        std::string lastVolume;
        for (const Message& m : s.messages)
            if (m.msg == UCM_CHANGEVOLUME)
                lastVolume = m.text;
        EXPECT_EQ(lastVolume, paths.back().string());
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, UnrarVolumes,
                         ::testing::Values(SetCase{"Rar5", RarFormat::Rar5, VolumeNaming::New},
                                           SetCase{"Rar4NewNaming", RarFormat::Rar4, VolumeNaming::New},
                                           SetCase{"Rar4OldNaming", RarFormat::Rar4, VolumeNaming::Old}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
