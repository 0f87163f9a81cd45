// A pinned file deletes its name only while the name still leads to the file
// it holds: an archive put in its place by another program is kept.
#include "platform/PinnedFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using testsupport::readFileBytes;
using testsupport::writeFileBytes;

TEST(PinnedFile, RemovesItsNameOnlyWhileTheNameLeadsToIt)
{
    struct Case {
        const char* name;
        std::function<void(const fs::path& file)> meanwhile;
        bool removed;
        const char* left; // content under the name afterwards; nullptr: no file
    };
    const Case cases[] = {
        {"Untouched", [](const fs::path&) {}, true, nullptr},
        {"ReplacedByRename",
         [](const fs::path& f) {
             writeFileBytes(fs::path(f) += ".new", "another");
             fs::rename(fs::path(f) += ".new", f);
         },
         false, "another"},
        {"Deleted", [](const fs::path& f) { fs::remove(f); }, false, nullptr},
    };
    testsupport::TempDir dir{"tavrel-pinned"};
    for (const Case& c : cases) {
        const fs::path file = dir / "NewExe.zip";
        writeFileBytes(file, "checked");
        platform::PinnedFile pinned(file.string());
        ASSERT_TRUE(pinned.open()) << c.name;
        c.meanwhile(file);
        EXPECT_EQ(readFileBytes(pinned.readPath()), "checked") << c.name;

        EXPECT_EQ(pinned.removeName(), c.removed) << c.name;
        EXPECT_FALSE(pinned.open()) << c.name;
        EXPECT_EQ(fs::exists(file) ? readFileBytes(file) : "<none>", c.left ? c.left : "<none>") << c.name;
        fs::remove(file);
    }
}
