#include "InstalledRelease.h"

#include "update/RecordFile.h"

#if TAVREL_SHA256_LIBCRYPTO
#include <openssl/evp.h>
#else
#include <sodium.h>
#endif

#include <cerrno>
#include <charconv>
#include <fstream>
#include <memory>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kKind = "tavrel installed release 1";

std::string field(const RecordFields& fields, const std::string& key)
{
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
}

// SHA-256 in pieces. libcrypto's uses the processor's SHA instructions where
// it has them (four times libsodium's portable code); Windows builds, without
// a libcrypto, take libsodium's.
class Sha256 {
public:
    static constexpr std::size_t kBytes = 32;
#if TAVREL_SHA256_LIBCRYPTO
    Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free)
    {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            throw std::system_error(ENOMEM, std::generic_category(), "SHA-256");
    }
    void update(const void* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
    void final(unsigned char* digest) { EVP_DigestFinal_ex(context_.get(), digest, nullptr); }

private:
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context_;
#else
    Sha256() { crypto_hash_sha256_init(&state_); }
    void update(const void* data, std::size_t size)
    {
        crypto_hash_sha256_update(&state_, static_cast<const unsigned char*>(data), size);
    }
    void final(unsigned char* digest) { crypto_hash_sha256_final(&state_, digest); }

private:
    crypto_hash_sha256_state state_;
#endif
};

} // namespace

InstalledRelease releaseRecord(const std::string& location, bool http, const SourceIdentity& identity,
                               const std::string& signature, std::optional<std::int64_t> signedAt)
{
    InstalledRelease release;
    release.location = location;
    release.http = http;
    release.etag = identity.etag;
    release.lastModified = identity.lastModified;
    release.sourceSize = identity.size;
    release.sourceModified = identity.modified;
    release.signature = signature;
    release.signedAt = signedAt;
    return release;
}

ArchiveDigest::ArchiveDigest(std::filesystem::path file) : file_(std::move(file))
{
    thread_ = std::thread([this] {
        try {
            digest_ = fileSha256(file_, &stop_);
        } catch (...) {
            error_ = std::current_exception();
        }
    });
}

ArchiveDigest::~ArchiveDigest()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

std::string ArchiveDigest::result()
{
    if (thread_.joinable())
        thread_.join();
    if (error_)
        std::rethrow_exception(error_);
    return digest_;
}

void measureArchive(InstalledRelease& release, ArchiveDigest& digest)
{
    std::error_code ec;
    release.size = std::filesystem::file_size(digest.file(), ec);
    release.sha256 = digest.result();
}

std::optional<InstalledRelease> readInstalledRelease(const UpdateFolder& folder)
{
    const auto fields = readRecordFile(folder.installed(), kKind);
    if (!fields)
        return std::nullopt;
    InstalledRelease release;
    release.location = field(*fields, "location");
    release.http = field(*fields, "http") == "1";
    const auto size = recordNumber(*fields, "size");
    release.sha256 = field(*fields, "sha256");
    if (release.location.empty() || !size || release.sha256.size() != 64)
        return std::nullopt; // not a whole record
    release.size = *size;
    release.etag = field(*fields, "etag");
    release.lastModified = field(*fields, "last-modified");
    release.sourceSize = recordNumber(*fields, "source-size");
    release.sourceModified = recordSignedNumber(*fields, "source-modified");
    release.signature = field(*fields, "signature");
    release.signedAt = recordSignedNumber(*fields, "signed-at");
    return release;
}

void writeInstalledRelease(const UpdateFolder& folder, const InstalledRelease& release)
{
    RecordFields fields{{"location", release.location},
                        {"http", release.http ? "1" : "0"},
                        {"size", std::to_string(release.size)},
                        {"sha256", release.sha256}};
    if (!release.etag.empty())
        fields["etag"] = release.etag;
    if (!release.lastModified.empty())
        fields["last-modified"] = release.lastModified;
    if (release.sourceSize)
        fields["source-size"] = std::to_string(*release.sourceSize);
    if (release.sourceModified)
        fields["source-modified"] = std::to_string(*release.sourceModified);
    if (!release.signature.empty())
        fields["signature"] = release.signature;
    if (release.signedAt)
        fields["signed-at"] = std::to_string(*release.signedAt);
    writeRecordFile(folder.installed(), kKind, fields, true);
}

std::string fileSha256(const std::filesystem::path& file, const std::atomic<bool>* stop)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::system_error(errno, std::generic_category(), file.string());
    Sha256 hash;
    std::vector<char> block(1 << 20);
    while (in) {
        if (stop && *stop)
            throw std::system_error(std::make_error_code(std::errc::operation_canceled), file.string());
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        hash.update(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad())
        throw std::system_error(EIO, std::generic_category(), file.string());
    unsigned char digest[Sha256::kBytes];
    hash.final(digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

std::optional<std::int64_t> signingTime(const std::string& trustedComment)
{
    const std::string tag = "timestamp:";
    const std::size_t at = trustedComment.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    const char* begin = trustedComment.data() + at + tag.size();
    const char* end = trustedComment.data() + trustedComment.size();
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc() || stop == begin)
        return std::nullopt;
    return value;
}
