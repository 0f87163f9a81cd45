#include "tests/support/MinisignKeys.h"

#include "tests/support/TempDir.h"

#include <sodium.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

#ifndef _WIN32
std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

void runTool(const std::string& arguments)
{
    const std::string command = "minisign " + arguments + " </dev/null >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}
#endif

std::string base64(const unsigned char* data, std::size_t size)
{
    std::string text(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
    sodium_bin2base64(text.data(), text.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
    text.resize(text.size() - 1); // the terminating NUL
    return text;
}

} // namespace

#ifdef _WIN32

MinisignToolKey::MinisignToolKey(const std::filesystem::path& folder, const std::string& name)
    : publicKeyFile_(folder / (name + ".pub")), secretKeyFile_(folder / (name + ".key")),
      standIn_(std::make_shared<SodiumKey>())
{
    publicKeyLine_ = standIn_->publicKeyLine();
    // The tool's first line names the key id as a number, the way the updater
    // shows it; written out here, not by the updater's code, which it checks.
    std::string id;
    for (auto byte = standIn_->keyId().rbegin(); byte != standIn_->keyId().rend(); ++byte) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        id += kDigits[*byte >> 4];
        id += kDigits[*byte & 0xF];
    }
    writeFileBytes(publicKeyFile_, "untrusted comment: minisign public key " + id + "\n" + publicKeyLine_ + "\n");
}

void MinisignToolKey::sign(const std::filesystem::path& file, bool legacy,
                           const std::optional<std::filesystem::path>& signature) const
{
    const std::filesystem::path target = signature.value_or(file.string() + ".minisig");
    const auto now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    standIn_->sign(file, target, !legacy, "timestamp:" + std::to_string(now) + "\tfile:" + file.filename().string());
}

#else

MinisignToolKey::MinisignToolKey(const std::filesystem::path& folder, const std::string& name)
    : publicKeyFile_(folder / (name + ".pub")), secretKeyFile_(folder / (name + ".key"))
{
    runTool("-G -W -f -p " + quoted(publicKeyFile_) + " -s " + quoted(secretKeyFile_));
    // The second line of the public key file is the key itself.
    const std::string content = readFileBytes(publicKeyFile_);
    const std::size_t start = content.find('\n') + 1;
    publicKeyLine_ = content.substr(start, content.find('\n', start) - start);
}

void MinisignToolKey::sign(const std::filesystem::path& file, bool legacy,
                           const std::optional<std::filesystem::path>& signature) const
{
    const std::filesystem::path target = signature.value_or(file.string() + ".minisig");
    runTool(std::string("-S") + (legacy ? " -l" : "") + " -s " + quoted(secretKeyFile_) + " -m " + quoted(file) +
            " -x " + quoted(target));
}

#endif

SodiumKey::SodiumKey()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
    crypto_sign_keypair(publicKey_.data(), secretKey_.data());
    randombytes_buf(keyId_.data(), keyId_.size());
}

std::string SodiumKey::publicKeyLine() const
{
    std::vector<unsigned char> bytes{'E', 'd'};
    bytes.insert(bytes.end(), keyId_.begin(), keyId_.end());
    bytes.insert(bytes.end(), publicKey_.begin(), publicKey_.end());
    return base64(bytes.data(), bytes.size());
}

void SodiumKey::sign(const std::filesystem::path& file, const std::filesystem::path& signature, bool prehashed,
                     const std::string& trustedComment, const std::optional<std::array<unsigned char, 8>>& keyId) const
{
    const std::string content = readFileBytes(file);
    std::vector<unsigned char> message(content.begin(), content.end());
    if (prehashed) {
        std::vector<unsigned char> hash(crypto_generichash_BYTES_MAX);
        crypto_generichash(hash.data(), hash.size(), message.data(), message.size(), nullptr, 0);
        message = hash;
    }
    std::array<unsigned char, crypto_sign_BYTES> fileSignature{};
    crypto_sign_detached(fileSignature.data(), nullptr, message.data(), message.size(), secretKey_.data());

    std::vector<unsigned char> signatureLine{'E', static_cast<unsigned char>(prehashed ? 'D' : 'd')};
    const auto& id = keyId.value_or(keyId_);
    signatureLine.insert(signatureLine.end(), id.begin(), id.end());
    signatureLine.insert(signatureLine.end(), fileSignature.begin(), fileSignature.end());

    std::vector<unsigned char> global(fileSignature.begin(), fileSignature.end());
    global.insert(global.end(), trustedComment.begin(), trustedComment.end());
    std::array<unsigned char, crypto_sign_BYTES> globalSignature{};
    crypto_sign_detached(globalSignature.data(), nullptr, global.data(), global.size(), secretKey_.data());

    writeFileBytes(signature, "untrusted comment: signed by libsodium\n" +
                                  base64(signatureLine.data(), signatureLine.size()) +
                                  "\ntrusted comment: " + trustedComment + "\n" +
                                  base64(globalSignature.data(), globalSignature.size()) + "\n");
}

} // namespace testsupport
