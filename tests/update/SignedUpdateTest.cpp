// Updates with the publisher's public key in "Tavrel.INI": every release is
// fetched with its signature and goes through the real update run with the
// real archive component and our UnRAR library, by copy and over a loopback
// HTTP server. Keys and signatures come from the minisign tool and from
// libsodium directly; the program folder is compared before and after.
#include "tests/support/MinisignKeys.h"
#include "tests/support/RarWriter.h"
#include "tests/update/UpdateRunFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;
using tavrel::test::RarFormat;
using tavrel::test::RarWriter;
using testsupport::kReceived;
using testsupport::kUnpacked;
using testsupport::MinisignToolKey;
using testsupport::readFileBytes;
using testsupport::SodiumKey;
using testsupport::writeFileBytes;

namespace {

// Every file below `folder` with its content; the updater's record of the
// installed release is no file of the program.
std::map<std::string, std::string> snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(entry.path(), folder).generic_string();
        if (entry.is_regular_file() && name != ".tavrel-update/installed")
            files[name] = readFileBytes(entry.path());
    }
    return files;
}

enum class Key { None, Tool, Sodium, Malformed };

struct SignedCase {
    const char* name; // also the release's file name on the server and in the folder
    Key key;          // what "Tavrel.INI" holds
    UpdateOutcome outcome;
    std::string reason; // the refusal's reason, or the note of an installed release
};

void PrintTo(const SignedCase& c, std::ostream* os) { *os << c.name; }

const SignedCase kCases[] = {
    {"ToolPrehashed", Key::Tool, UpdateOutcome::Installed, "verified with key"},
    {"ToolLegacy", Key::Tool, UpdateOutcome::Installed, "verified with key"},
    {"SodiumPrehashed", Key::Sodium, UpdateOutcome::Installed, "verified with key"},
    {"SodiumLegacy", Key::Sodium, UpdateOutcome::Installed, "verified with key"},
    {"NoKey", Key::None, UpdateOutcome::Installed, "was not verified"},
    {"OneByteChanged", Key::Tool, UpdateOutcome::SignatureNotConfirmed, "архив не совпадает с подписанным"},
    {"OneByteChangedLegacy", Key::Tool, UpdateOutcome::SignatureNotConfirmed, "архив не совпадает с подписанным"},
    {"SignatureOfAnotherFile", Key::Tool, UpdateOutcome::SignatureNotConfirmed, "архив не совпадает с подписанным"},
    {"TrustedCommentChanged", Key::Tool, UpdateOutcome::SignatureNotConfirmed,
     "доверенный комментарий подписи изменен"},
    {"OtherKey", Key::Tool, UpdateOutcome::SignatureNotConfirmed, "архив подписан другим ключом"},
    {"OtherKeyUnderOurKeyId", Key::Sodium, UpdateOutcome::SignatureNotConfirmed, "архив не совпадает с подписанным"},
    {"MissingSignature", Key::Tool, UpdateOutcome::SignatureNotConfirmed, "файл подписи не получен"},
    {"WebPageAsSignature", Key::Tool, UpdateOutcome::SignatureNotConfirmed,
     "файл подписи поврежден или не является подписью"},
    {"MalformedKey", Key::Malformed, UpdateOutcome::PublicKeyMalformed, ""},
};

void flipLastByte(const fs::path& file)
{
    std::string bytes = readFileBytes(file);
    bytes.back() ^= 1;
    writeFileBytes(file, bytes);
}

class SignedUpdate : public ::testing::TestWithParam<std::tuple<SignedCase, bool>>,
                     protected testsupport::UpdateRunFixture {
protected:
    static void SetUpTestSuite()
    {
        openReleases("tavrel-signed-releases");
        keys = std::make_unique<testsupport::TempDir>("tavrel-keys");
        toolKey = std::make_unique<MinisignToolKey>(keys->path(), "publisher");
        sodiumKey = std::make_unique<SodiumKey>();
        const MinisignToolKey otherToolKey(keys->path(), "stranger");
        const SodiumKey otherSodiumKey;

        const fs::path& dir = releases->path();
        RarWriter(RarFormat::Rar5)
            .file("Tavrel.exe", "new program")
            .directory("Help")
            .file("Help/Tavrel.chm", "new help")
            .write(keys->path(), "release");
        const auto placeRelease = [&](const std::string& name) {
            fs::copy_file(keys->path() / "release.rar", dir / (name + ".rar"));
            return dir / (name + ".rar");
        };
        const auto signatureOf = [&](const std::string& name) { return dir / (name + ".rar.minisig"); };

        toolKey->sign(placeRelease("ToolPrehashed"));
        toolKey->sign(placeRelease("ToolLegacy"), true);
        sodiumKey->sign(placeRelease("SodiumPrehashed"), signatureOf("SodiumPrehashed"), true, "timestamp:1\tfile:r");
        sodiumKey->sign(placeRelease("SodiumLegacy"), signatureOf("SodiumLegacy"), false, "legacy");
        placeRelease("NoKey");
        toolKey->sign(placeRelease("OneByteChanged"));
        flipLastByte(dir / "OneByteChanged.rar");
        toolKey->sign(placeRelease("OneByteChangedLegacy"), true);
        flipLastByte(dir / "OneByteChangedLegacy.rar");
        placeRelease("SignatureOfAnotherFile");
        writeFileBytes(keys->path() / "other.rar", "another release");
        toolKey->sign(keys->path() / "other.rar", false, signatureOf("SignatureOfAnotherFile"));
        toolKey->sign(placeRelease("TrustedCommentChanged"));
        {
            std::string text = readFileBytes(signatureOf("TrustedCommentChanged"));
            const std::string prefix = "\ntrusted comment: ";
            const std::size_t at = text.find(prefix) + prefix.size();
            text.insert(at, "x");
            writeFileBytes(signatureOf("TrustedCommentChanged"), text);
        }
        otherToolKey.sign(placeRelease("OtherKey"));
        otherSodiumKey.sign(placeRelease("OtherKeyUnderOurKeyId"), signatureOf("OtherKeyUnderOurKeyId"), true, "forged",
                            sodiumKey->keyId());
        placeRelease("MissingSignature");
        placeRelease("WebPageAsSignature");
        writeFileBytes(signatureOf("WebPageAsSignature"),
                       "<!DOCTYPE html>\n<html><body><h1>Вход в сеть</h1></body></html>\n");
        placeRelease("MalformedKey");
        toolKey->sign(dir / "MalformedKey.rar");

        serveReleases();
    }
    static void TearDownTestSuite()
    {
        sodiumKey.reset();
        toolKey.reset();
        keys.reset();
        closeReleases();
    }

    SignedUpdate() : UpdateRunFixture("tavrel-signed-update") { setup.settingsFile = program / "Tavrel.INI"; }

    void configure(Key key)
    {
        std::string value;
        switch (key) {
        case Key::None: return;
        case Key::Tool: value = toolKey->publicKeyLine(); break;
        case Key::Sodium: value = sodiumKey->publicKeyLine(); break;
        case Key::Malformed: value = toolKey->publicKeyLine().substr(0, 40); break;
        }
        writeFileBytes(program / "Tavrel.INI", "[LoginU]\nDB=0\n\n[Update]\nPublicKey=" + value + "\n");
    }

    static std::unique_ptr<testsupport::TempDir> keys;
    static std::unique_ptr<MinisignToolKey> toolKey;
    static std::unique_ptr<SodiumKey> sodiumKey;
};
std::unique_ptr<testsupport::TempDir> SignedUpdate::keys;
std::unique_ptr<MinisignToolKey> SignedUpdate::toolKey;
std::unique_ptr<SodiumKey> SignedUpdate::sodiumKey;

TEST_P(SignedUpdate, InstallsOnlyAConfirmedRelease)
{
    const auto& [c, overHttp] = GetParam();
    setup.http = overHttp;
    configure(c.key);
    const std::string name = std::string(c.name) + ".rar";
    const std::string source = overHttp ? server->url("/files/" + name) : (releases->path() / name).string();
    const fs::path archive = (overHttp ? work : program) / "NewExe.zip";

    auto expected = snapshot(program);
    // A signature left from an earlier run must not vouch for this release.
    const bool keyUsable = c.key == Key::Tool || c.key == Key::Sodium;
    if (keyUsable)
        fs::copy_file(releases->path() / "ToolPrehashed.rar.minisig", fs::path(archive) += ".minisig");

    EXPECT_EQ(run.BBRenewClick(setup, source), c.outcome);

    std::vector<std::string> texts;
    switch (c.outcome) {
    case UpdateOutcome::Installed:
        texts = {kReceived, kUnpacked};
        expected["Tavrel.exe"] = "new program";
        expected["Help/Tavrel.chm"] = "new help";
        ASSERT_EQ(view.notes.size(), 1u);
        EXPECT_NE(view.notes[0].find(c.reason), std::string::npos) << view.notes[0];
        if (c.key == Key::Tool) { // the key id as the tool shows it, last word of the key file's first line
            const std::string pub = readFileBytes(toolKey->publicKeyFile());
            const std::string firstLine = pub.substr(0, pub.find('\n'));
            EXPECT_NE(view.notes[0].find(firstLine.substr(firstLine.rfind(' ') + 1)), std::string::npos);
        }
        break;
    case UpdateOutcome::PublicKeyMalformed:
        texts = {"В файле настроек " + (program / "Tavrel.INI").string() +
                 " неверный открытый ключ обновлений (раздел [Update], ключ PublicKey)!"};
        break;
    default:
        texts = {kReceived, "Подпись архива " + archive.string() + " не подтверждена: " + c.reason +
                                ". Обновление не установлено!"};
        break;
    }
    EXPECT_EQ(messages.texts(), texts);
    EXPECT_EQ(messages.all().back().kind, c.outcome == UpdateOutcome::Installed ? platform::MessageKind::Information
                                                                                : platform::MessageKind::Error);
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
    // Neither the archive nor any signature is left behind.
    EXPECT_EQ(snapshot(program), expected);
    EXPECT_TRUE(fs::is_empty(work));
}

TEST_F(SignedUpdate, CancelledSignatureFetchIsAFailedFetchAndLeavesNothing)
{
    setup.http = false;
    configure(Key::Tool);
    const auto before = snapshot(program);
    view.duringFetch = [&] {
        if (fs::exists(program / "NewExe.zip")) // the release is in, its signature on the way
            run.cancel();
    };
    EXPECT_EQ(run.BBRenewClick(setup, (releases->path() / "ToolPrehashed.rar").string()), UpdateOutcome::FetchFailed);
    EXPECT_EQ(messages.texts(), (std::vector<std::string>{"Не удалось обновить файл!"}));
    EXPECT_EQ(snapshot(program), before);
}

TEST_F(SignedUpdate, SignatureThatCannotBeWrittenEscapesAndTakesTheReleaseWithIt)
{
    setup.http = true;
    configure(Key::Tool);
    fs::create_directories(work / "NewExe.zip.minisig"); // the download cannot take this name
    EXPECT_THROW(run.BBRenewClick(setup, server->url("/files/ToolPrehashed.rar")), std::system_error);
    EXPECT_FALSE(fs::exists(work / "NewExe.zip"));
    EXPECT_EQ(readFileBytes(program / "Tavrel.exe"), "old program");
    EXPECT_EQ(view.enabled, (std::vector<bool>{false, true}));
}

INSTANTIATE_TEST_SUITE_P(Update, SignedUpdate, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OverHttp" : "ByCopy");
                         });

} // namespace
