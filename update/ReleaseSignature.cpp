#include "ReleaseSignature.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace {

// Sizes of minisign's binary fields.
constexpr std::size_t kAlgorithmBytes = 2;
constexpr std::size_t kKeyIdBytes = 8;
constexpr std::size_t kPublicKeyBytes = kAlgorithmBytes + kKeyIdBytes + crypto_sign_PUBLICKEYBYTES;
constexpr std::size_t kSignatureBytes = kAlgorithmBytes + kKeyIdBytes + crypto_sign_BYTES;
constexpr std::size_t kPrehashBytes = crypto_generichash_BYTES_MAX; // BLAKE2b-512

// A real signature file is a few hundred bytes; anything much larger (a web
// page served in its place) is not read whole.
constexpr std::size_t kMaxSignatureFileBytes = 16 * 1024;

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

void initialiseSodium()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// Standard base64 of exactly `size` bytes, nothing before or after it.
std::optional<std::vector<unsigned char>> decodeBase64(std::string_view text, std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    std::size_t decoded = 0;
    const char* end = nullptr;
    if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &decoded, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != text.data() + text.size() || decoded != size)
        return std::nullopt;
    return bytes;
}

// The four lines of a signature file, parsed.
struct SignatureFile {
    std::string algorithm;
    std::array<unsigned char, kKeyIdBytes> keyId{};
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    std::string trustedComment;
    std::array<unsigned char, crypto_sign_BYTES> globalSignature{};
};

enum class ReadOutcome { Read, Unreadable, Malformed };

ReadOutcome readSignatureFile(const std::filesystem::path& path, SignatureFile& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return ReadOutcome::Unreadable;
    std::string content(kMaxSignatureFileBytes + 1, '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (in.bad())
        return ReadOutcome::Unreadable;
    content.resize(static_cast<std::size_t>(in.gcount()));
    if (content.size() > kMaxSignatureFileBytes)
        return ReadOutcome::Malformed;

    std::vector<std::string_view> lines;
    std::string_view rest = content;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    while (!lines.empty() && trimmed(lines.back()).empty())
        lines.pop_back();
    if (lines.size() != 4 || !lines[0].starts_with(kUntrustedPrefix) || !lines[2].starts_with(kTrustedPrefix))
        return ReadOutcome::Malformed;

    const auto signature = decodeBase64(trimmed(lines[1]), kSignatureBytes);
    const auto global = decodeBase64(trimmed(lines[3]), crypto_sign_BYTES);
    if (!signature || !global)
        return ReadOutcome::Malformed;
    out.algorithm.assign(signature->begin(), signature->begin() + kAlgorithmBytes);
    if (out.algorithm != "Ed" && out.algorithm != "ED")
        return ReadOutcome::Malformed;
    std::copy_n(signature->begin() + kAlgorithmBytes, kKeyIdBytes, out.keyId.begin());
    std::copy_n(signature->begin() + kAlgorithmBytes + kKeyIdBytes, crypto_sign_BYTES, out.signature.begin());
    out.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    std::copy_n(global->begin(), crypto_sign_BYTES, out.globalSignature.begin());
    return ReadOutcome::Read;
}

[[noreturn]] void throwUnreadable(const std::filesystem::path& file)
{
    const int error = errno != 0 ? errno : EIO;
    throw std::system_error(error, std::generic_category(), "cannot read " + file.string());
}

// Feeds the file to `consume` in blocks.
template <typename Consume> void streamFile(const std::filesystem::path& file, Consume consume)
{
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throwUnreadable(file);
    std::vector<unsigned char> block(64 * 1024);
    while (in) {
        in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        if (in.bad())
            throwUnreadable(file);
        consume(block.data(), static_cast<std::size_t>(in.gcount()));
    }
}

bool fileSignatureHolds(const MinisignPublicKey& key, const SignatureFile& sig, const std::filesystem::path& file)
{
    if (sig.algorithm == "ED") {
        crypto_generichash_state state;
        crypto_generichash_init(&state, nullptr, 0, kPrehashBytes);
        streamFile(file,
                   [&](const unsigned char* data, std::size_t size) { crypto_generichash_update(&state, data, size); });
        std::array<unsigned char, kPrehashBytes> hash{};
        crypto_generichash_final(&state, hash.data(), hash.size());
        return crypto_sign_verify_detached(sig.signature.data(), hash.data(), hash.size(), key.key.data()) == 0;
    }
    // The legacy form signs the file itself, which Ed25519 needs whole.
    std::vector<unsigned char> content;
    streamFile(file,
               [&](const unsigned char* data, std::size_t size) { content.insert(content.end(), data, data + size); });
    return crypto_sign_verify_detached(sig.signature.data(), content.data(), content.size(), key.key.data()) == 0;
}

bool trustedCommentHolds(const MinisignPublicKey& key, const SignatureFile& sig)
{
    std::vector<unsigned char> signedText(sig.signature.begin(), sig.signature.end());
    signedText.insert(signedText.end(), sig.trustedComment.begin(), sig.trustedComment.end());
    return crypto_sign_verify_detached(sig.globalSignature.data(), signedText.data(), signedText.size(),
                                       key.key.data()) == 0;
}

} // namespace

std::optional<MinisignPublicKey> MinisignPublicKey::parse(std::string_view line)
{
    initialiseSodium();
    const auto bytes = decodeBase64(trimmed(line), kPublicKeyBytes);
    if (!bytes || (*bytes)[0] != 'E' || (*bytes)[1] != 'd')
        return std::nullopt;
    MinisignPublicKey key;
    std::copy_n(bytes->begin() + kAlgorithmBytes, kKeyIdBytes, key.keyId.begin());
    std::copy_n(bytes->begin() + kAlgorithmBytes + kKeyIdBytes, key.key.size(), key.key.begin());
    return key;
}

std::string MinisignPublicKey::keyIdText() const
{
    // Stored little-endian; minisign shows the number.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
        text += kDigits[*byte >> 4];
        text += kDigits[*byte & 0xF];
    }
    return text;
}

SignatureResult verifySignature(const MinisignPublicKey& key, const std::filesystem::path& file,
                                const std::filesystem::path& signatureFile)
{
    initialiseSodium();
    SignatureFile sig;
    switch (readSignatureFile(signatureFile, sig)) {
    case ReadOutcome::Unreadable: return {SignatureCheck::SignatureUnreadable, {}};
    case ReadOutcome::Malformed: return {SignatureCheck::MalformedSignature, {}};
    case ReadOutcome::Read: break;
    }
    if (sig.keyId != key.keyId)
        return {SignatureCheck::KeyIdMismatch, {}};
    if (!fileSignatureHolds(key, sig, file))
        return {SignatureCheck::BadSignature, {}};
    if (!trustedCommentHolds(key, sig))
        return {SignatureCheck::BadTrustedComment, {}};
    return {SignatureCheck::Verified, sig.trustedComment};
}

const char* describe(SignatureCheck check)
{
    switch (check) {
    case SignatureCheck::Verified: return "signature verified";
    case SignatureCheck::SignatureUnreadable: return "no signature file, or it cannot be read";
    case SignatureCheck::MalformedSignature: return "not a minisign signature file";
    case SignatureCheck::KeyIdMismatch: return "signed with another key";
    case SignatureCheck::BadSignature: return "the file does not match its signature";
    case SignatureCheck::BadTrustedComment: return "the trusted comment does not match its signature";
    }
    return "unknown outcome";
}
