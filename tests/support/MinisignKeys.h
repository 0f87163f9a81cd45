#pragma once
// Release signatures for tests, made two ways: by the `minisign` tool itself
// (key pairs without a password, both signature forms) and by libsodium
// directly in the tool's file formats, which also makes signatures the tool
// refuses to make (another key's id, for one).
#include <array>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace testsupport {

// A fresh Ed25519 key pair from libsodium with a random key id.
class SodiumKey {
public:
    SodiumKey();

    std::string publicKeyLine() const;
    const std::array<unsigned char, 8>& keyId() const { return keyId_; }

    // Writes a minisign signature file for `file`: prehashed ("ED") or legacy
    // ("Ed"), stamped with `keyId` (this key's own by default).
    void sign(const std::filesystem::path& file, const std::filesystem::path& signature, bool prehashed,
              const std::string& trustedComment,
              const std::optional<std::array<unsigned char, 8>>& keyId = std::nullopt) const;

private:
    std::array<unsigned char, 8> keyId_{};
    std::array<unsigned char, 32> publicKey_{};
    std::array<unsigned char, 64> secretKey_{};
};

// A key pair made by `minisign -G -W` in a folder. On Windows, where the
// tool (a Linux program) cannot be run, libsodium writes the same files in
// the tool's formats, with the tool's trusted comment.
class MinisignToolKey {
public:
    // Makes "<name>.pub" and "<name>.key" in `folder`. Throws
    // std::runtime_error when the tool fails.
    MinisignToolKey(const std::filesystem::path& folder, const std::string& name);

    // The base64 line of the public key, as the tool prints it.
    const std::string& publicKeyLine() const { return publicKeyLine_; }
    const std::filesystem::path& publicKeyFile() const { return publicKeyFile_; }
    const std::filesystem::path& secretKeyFile() const { return secretKeyFile_; }

    // `minisign -S` of `file` into `signature` (by default `file` with
    // ".minisig" appended); `legacy` adds -l.
    void sign(const std::filesystem::path& file, bool legacy = false,
              const std::optional<std::filesystem::path>& signature = std::nullopt) const;

private:
    std::filesystem::path publicKeyFile_;
    std::filesystem::path secretKeyFile_;
    std::string publicKeyLine_;
    std::shared_ptr<const SodiumKey> standIn_; // Windows: the key behind the files
};

} // namespace testsupport
