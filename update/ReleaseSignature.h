#pragma once
// Checks a file against a minisign signature made by the release publisher's
// key: the public key as the `minisign` tool prints it (one base64 line) and
// the four-line ".minisig" file beside the release. Both signature forms are
// understood: the prehashed one ("ED", BLAKE2b-512 of the file) that the tool
// writes by default and the legacy one ("Ed", the whole file). The
// cryptography is libsodium's.
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class MinisignPublicKey {
public:
    // The base64 line of a minisign public key; blanks around it are ignored.
    // Nothing when the text is not such a key.
    static std::optional<MinisignPublicKey> parse(std::string_view line);

    // The key id as minisign shows it: 16 upper-case hexadecimal digits.
    std::string keyIdText() const;

    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};
};

enum class SignatureCheck {
    Verified,            // the file and the trusted comment carry the key's signature
    SignatureUnreadable, // no signature file, or it cannot be read
    MalformedSignature,  // not a minisign signature file (a web page, a truncated file, ...)
    KeyIdMismatch,       // signed by another key
    BadSignature,        // the file is not the one that was signed
    BadTrustedComment,   // the trusted comment is not the one that was signed
};

struct SignatureResult {
    SignatureCheck check = SignatureCheck::SignatureUnreadable;
    std::string trustedComment; // as signed; set only when verified
};

// Checks `file` against the signature file `signatureFile` and the key.
// Throws std::system_error when `file` itself cannot be read.
SignatureResult verifySignature(const MinisignPublicKey& key, const std::filesystem::path& file,
                                const std::filesystem::path& signatureFile);

// A short English description of a check's outcome, for logs.
const char* describe(SignatureCheck check);
