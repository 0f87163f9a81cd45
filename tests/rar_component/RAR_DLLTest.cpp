// Loading the library and the file helpers of the binding.
#include "ComponentFixture.h"

#include "RAR_Component/DateTimeValue.h"
#include "RAR_Component/RAR_DLL.h"
#include "platform/TextCodec.h"

#include <chrono>
#include <filesystem>

namespace {

struct LoadCase {
    const char* name;
    std::string dll;
    bool loaded;
    int versionMessagesOnLoad;
    int version; // GetDllVersion after LoadDLL
    std::vector<ErrorCall> errors;
};
void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

const std::string kVersionMessage = "please download the newest \"libunrar.so\" file. See https://www.rarlab.com";

class LoadLibrary : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadLibrary, LoadsChecksVersionAndReports)
{
    const LoadCase& c = GetParam();
    platform::RecordingMessages messages;
    std::vector<ErrorCall> errors;
    TRAR rar(messages);
    rar.OnError = [&](TRAR&, int code, TRAROperation op) { errors.push_back({code, op}); };
    rar.setDllName(c.dll);

    rar.LoadDLL();
    EXPECT_EQ(rar.isDLLLoaded(), c.loaded);
    EXPECT_EQ(static_cast<int>(messages.all().size()), c.versionMessagesOnLoad);
    for (const auto& m : messages.all()) {
        EXPECT_EQ(m.kind, platform::MessageKind::Plain);
        EXPECT_EQ(m.text, kVersionMessage);
        EXPECT_EQ(m.caption, "error");
    }
    EXPECT_EQ(rar.GetDllVersion(), c.version);
    EXPECT_EQ(errors, c.errors);
    EXPECT_EQ(rar.Version(), u"1.2");
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, LoadLibrary,
    ::testing::Values(LoadCase{"MissingFile", "/nonexistent/libunrar.so", false, 0, 0, {{99, roInitArchive}}},
                      LoadCase{"Complete", SCRIPTED_UNRAR, true, 0, 9, {}},
                      LoadCase{"BareNameBesideExecutable", SCRIPTED_UNRAR_FILE_NAME, true, 0, 9, {}},
                      LoadCase{"OldVersionStillLoads", SCRIPTED_UNRAR_V3, true, 1, 3, {}},
                      // Not loaded, yet the version is asked; GetDllVersion loads (and warns) again.
                      LoadCase{"LacksSetCallback", SCRIPTED_UNRAR_V3_NO_CALLBACK, false, 1, 0, {{99, roInitArchive}}},
                      LoadCase{"LacksGetDllVersion", SCRIPTED_UNRAR_NO_VERSION, false, 0, 0, {{99, roInitArchive}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadLibrary, IncompleteLibraryIsTriedAgainByEveryOpenFile)
{
    platform::RecordingMessages messages;
    std::vector<ErrorCall> errors;
    TRAR rar(messages);
    rar.OnError = [&](TRAR&, int code, TRAROperation op) { errors.push_back({code, op}); };
    rar.setDllName(SCRIPTED_UNRAR_V3_NO_CALLBACK);
    EXPECT_FALSE(rar.OpenFile(u"/nonexistent/archive.rar"));
    EXPECT_FALSE(rar.OpenFile(u"/nonexistent/archive.rar"));
    EXPECT_EQ(messages.all().size(), 2u);
    EXPECT_EQ(errors, (std::vector<ErrorCall>{{99, roInitArchive}, {99, roInitArchive}}));
}

// An archive file in `dir` that the scripted library reports as holding one file.
std::filesystem::path archiveOfOneFile(const testsupport::TempDir& dir, ScriptedLibrary& library)
{
    const auto archive = dir / "a.rar";
    testsupport::writeFileBytes(archive, "Rar!");
    library.play({.entries = {fileEntry("a.txt")}});
    return archive;
}

// A component that loaded a complete library keeps working when another
// component meets an incomplete one: the process-wide table is not emptied.
TEST(LoadLibrary, IncompleteLibraryLeavesOtherComponentsWorking)
{
    testsupport::TempDir dir("tavrel-rarcomp");
    ScriptedLibrary library(SCRIPTED_UNRAR);
    const auto archive = archiveOfOneFile(dir, library);

    platform::RecordingMessages messages;
    TRAR good(messages);
    good.setDllName(SCRIPTED_UNRAR);
    good.LoadDLL();
    TRAR incomplete(messages);
    incomplete.setDllName(SCRIPTED_UNRAR_V3_NO_CALLBACK);
    incomplete.LoadDLL();

    ASSERT_FALSE(incomplete.isDLLLoaded());
    EXPECT_TRUE(good.OpenFile(archive.u16string()));
    EXPECT_EQ(good.ArchiveInformation().TotalFiles(), 1);
}

// A walk after UnloadDLL loads the library again rather than calling into
// one that may be unmapped.
TEST(LoadLibrary, WalkAfterUnloadLoadsAgain)
{
    testsupport::TempDir dir("tavrel-rarcomp");
    ScriptedLibrary library(SCRIPTED_UNRAR);
    const auto archive = archiveOfOneFile(dir, library);

    platform::RecordingMessages messages;
    TRAR rar(messages);
    rar.setDllName(SCRIPTED_UNRAR);
    ASSERT_TRUE(rar.OpenFile(archive.u16string()));
    rar.UnloadDLL();
    EXPECT_TRUE(rar.List());
    EXPECT_TRUE(rar.isDLLLoaded());
}

std::string bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

// An MZ stub whose new-header offset points at 0x40 followed by `header`.
std::string mzWith(const std::string& header)
{
    std::string image(0x40, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    image[0x3C] = 0x40;
    return image + header;
}

std::string peImage(unsigned magic, unsigned subsystem)
{
    std::string pe = "PE" + bytes({0, 0}) + std::string(20, '\0');
    std::string optional(0x60, '\0');
    optional[0] = static_cast<char>(magic & 0xFF);
    optional[1] = static_cast<char>(magic >> 8);
    optional[68] = static_cast<char>(subsystem);
    return mzWith(pe + optional);
}

std::string neImage(unsigned char targetOs)
{
    std::string ne = "NE" + std::string(0x40, '\0');
    ne[0x36] = static_cast<char>(targetOs);
    return mzWith(ne);
}

struct SfxCase {
    const char* name;
    std::string content; // empty: no file
    bool sfx;
};
void PrintTo(const SfxCase& c, std::ostream* out) { *out << c.name; }

class IsSfx : public ::testing::TestWithParam<SfxCase> {};

TEST_P(IsSfx, TellsProgramsFromArchives)
{
    testsupport::TempDir dir("tavrel-rarcomp");
    const auto file = dir / "archive.exe";
    if (!GetParam().content.empty())
        testsupport::writeFileBytes(file, GetParam().content);
    EXPECT_EQ(RAR_DLL::isSFX(file.u16string()), GetParam().sfx);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IsSfx,
    ::testing::Values(SfxCase{"Elf", bytes({0x7F, 'E', 'L', 'F', 2, 1, 1}) + std::string(60, '\0'), true},
                      SfxCase{"Win32", peImage(0x10B, 2), true}, SfxCase{"Win64", peImage(0x20B, 2), false},
                      SfxCase{"Posix", peImage(0x10B, 7), true}, SfxCase{"Dos", "MZ" + std::string(30, '\0'), true},
                      SfxCase{"Win16", neImage(2), true}, SfxCase{"Os2", neImage(1), true},
                      SfxCase{"PlainArchive", "Rar!\x1a\x07\x01" + std::string(40, '\0'), false},
                      SfxCase{"Missing", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileHelpers, SizeAndTimeOfExistingAndMissingFiles)
{
    testsupport::TempDir dir("tavrel-rarcomp");
    const auto file = dir / "f.bin";
    testsupport::writeFileBytes(file, "12345");
    const std::time_t moment = 1715941231; // 2024-05-17, an odd second
    std::filesystem::last_write_time(file,
                                     std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(moment)));
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &moment);
#else
    localtime_r(&moment, &local);
#endif

    EXPECT_EQ(RAR_DLL::GetFileSize(file.u16string()), 5);
    EXPECT_DOUBLE_EQ(RAR_DLL::GetFileModifyDate(file.u16string()),
                     encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                    local.tm_sec - 1));
    EXPECT_EQ(RAR_DLL::GetFileSize((dir / "missing").u16string()), 0);
    EXPECT_EQ(RAR_DLL::GetFileModifyDate((dir / "missing").u16string()), 0);
}

TEST(DateTimeValue, DosTimesAsStoredAndImpossibleOnes)
{
    // 2024-05-17 10:20:30 is day 45429 after 30 December 1899.
    EXPECT_DOUBLE_EQ(dosDateTimeToValue(0x58B1528F), 45429 + (10 * 3600 + 20 * 60 + 30) / 86400.0);
    EXPECT_EQ(dosDateTimeToValue(0), 0);                                // month and day 0
    EXPECT_EQ(dosDateTimeToValue((44u << 9 | 2u << 5 | 30u) << 16), 0); // 30 February 2024
}

} // namespace
