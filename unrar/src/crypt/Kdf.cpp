#include "unrar/src/crypt/Kdf.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>
#include <openssl/sha.h>

#include <cstring>
#include <memory>
#include <vector>

#include "unrar/src/TextConvert.h"
#include "unrar/src/crypt/Rar3Sha1.h"

namespace unrar::crypt {
namespace {

// Wipes a byte buffer when it goes out of scope.
struct Wiped {
    std::vector<uint8_t> bytes;
    ~Wiped()
    {
        if (!bytes.empty())
            OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};

std::wstring limitedWide(const std::string& password)
{
    std::wstring w = utf8ToWide(password);
    if (w.size() > kMaxPasswordChars)
        w.resize(kMaxPasswordChars);
    return w;
}

struct MacDeleter {
    void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
    void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// HMAC-SHA256 under one key, computed again and again without re-keying.
class HmacSha256 {
public:
    HmacSha256(const uint8_t* key, size_t keySize)
    {
        mac_.reset(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
        if (mac_)
            ctx_.reset(EVP_MAC_CTX_new(mac_.get()));
        char digest[] = "SHA256";
        OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
        // An empty key is still a key to HMAC; give OpenSSL a valid pointer.
        static const uint8_t none = 0;
        ok_ = ctx_ && EVP_MAC_init(ctx_.get(), keySize ? key : &none, keySize, params) == 1;
        keyed_ = true;
    }
    bool ok() const { return ok_; }
    bool compute(const uint8_t* data, size_t size, uint8_t out[32])
    {
        if (!ok_)
            return false;
        if (!keyed_ && EVP_MAC_init(ctx_.get(), nullptr, 0, nullptr) != 1)
            return ok_ = false;
        keyed_ = false;
        size_t n = 0;
        ok_ = EVP_MAC_update(ctx_.get(), data, size) == 1 && EVP_MAC_final(ctx_.get(), out, &n, 32) == 1 && n == 32;
        return ok_;
    }

private:
    std::unique_ptr<EVP_MAC, MacDeleter> mac_;
    std::unique_ptr<EVP_MAC_CTX, MacDeleter> ctx_;
    bool ok_ = false;
    bool keyed_ = false;
};

} // namespace

void deriveRar3(const std::string& password, const uint8_t salt[8], Rar3Key& out)
{
    std::wstring wide = limitedWide(password);
    Wiped p;
    for (wchar_t c : wide) {
        const uint32_t cp = static_cast<uint32_t>(c);
        auto unit = [&p](uint32_t u) {
            p.bytes.push_back(static_cast<uint8_t>(u & 0xFF));
            p.bytes.push_back(static_cast<uint8_t>(u >> 8));
        };
        if (cp > 0xFFFF) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    if (!wide.empty())
        OPENSSL_cleanse(wide.data(), wide.size() * sizeof(wchar_t));
    p.bytes.insert(p.bytes.end(), salt, salt + 8);

    constexpr uint32_t kRounds = 0x40000;
    Rar3Sha1 sha;
    uint8_t digest[20];
    for (uint32_t i = 0; i < kRounds; ++i) {
        // The whole buffer each round: earlier rounds may have rewritten it.
        sha.update(p.bytes.data(), p.bytes.size());
        uint8_t counter[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16)};
        sha.update(counter, 3);
        if (i % (kRounds / 16) == 0) {
            sha.digest(digest);
            out.iv[i / (kRounds / 16)] = digest[19];
        }
    }
    sha.digest(digest);
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            out.key[4 * k + j] = digest[4 * k + 3 - j];
    OPENSSL_cleanse(digest, sizeof digest);
}

bool deriveRar5(const std::string& password, const uint8_t salt[16], unsigned count, Rar5Key& out)
{
    if (count > kMaxRar5KdfCount)
        return false;
    std::wstring wide = limitedWide(password);
    Wiped pw;
    std::string utf8 = wideToUtf8(wide);
    pw.bytes.assign(utf8.begin(), utf8.end());
    // The temporaries held the password too.
    if (!wide.empty())
        OPENSSL_cleanse(wide.data(), wide.size() * sizeof(wchar_t));
    if (!utf8.empty())
        OPENSSL_cleanse(utf8.data(), utf8.size());

    HmacSha256 hmac(pw.bytes.data(), pw.bytes.size());
    uint8_t u[32], acc[32], next[32];
    uint8_t first[20];
    std::memcpy(first, salt, 16);
    first[16] = 0;
    first[17] = 0;
    first[18] = 0;
    first[19] = 1;
    bool ok = hmac.compute(first, sizeof first, u);
    std::memcpy(acc, u, 32);
    // One run gives all three: KEY after c iterations, HASH_KEY after c+16, CHECK after c+32.
    const uint64_t c = uint64_t(1) << count;
    uint8_t check32[32] = {};
    for (uint64_t n = 2; ok && n <= c + 32; ++n) {
        ok = hmac.compute(u, 32, next);
        std::memcpy(u, next, 32);
        for (int i = 0; i < 32; ++i)
            acc[i] ^= u[i];
        if (n == c)
            std::memcpy(out.key, acc, 32);
        if (n == c + 16)
            std::memcpy(out.hashKey, acc, 32);
        if (n == c + 32)
            std::memcpy(check32, acc, 32);
    }
    if (c == 1)
        std::memcpy(out.key, u, 32); // count 0: KEY is U1 alone
    std::memset(out.check, 0, sizeof out.check);
    for (int i = 0; i < 32; ++i)
        out.check[i % 8] ^= check32[i];
    OPENSSL_cleanse(u, sizeof u);
    OPENSSL_cleanse(acc, sizeof acc);
    OPENSSL_cleanse(next, sizeof next);
    OPENSSL_cleanse(check32, sizeof check32);
    return ok;
}

bool checkValueIntact(const uint8_t stored[12])
{
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(stored, 8, digest);
    return std::memcmp(digest, stored + 8, 4) == 0;
}

uint32_t macOfCrc(const Rar5Key& key, uint32_t crc)
{
    const uint8_t raw[4] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc >> 16),
                            static_cast<uint8_t>(crc >> 24)};
    uint8_t d[32];
    unsigned n = 0;
    if (!HMAC(EVP_sha256(), key.hashKey, 32, raw, 4, d, &n))
        return ~crc; // cannot match: a failure must not pass as a good checksum
    uint32_t mac = 0;
    for (int i = 0; i < 32; ++i)
        mac ^= uint32_t(d[i]) << (8 * (i % 4));
    return mac;
}

void macOfDigest(const Rar5Key& key, const uint8_t digest[32], uint8_t out[32])
{
    unsigned n = 0;
    if (!HMAC(EVP_sha256(), key.hashKey, 32, digest, 32, out, &n))
        for (int i = 0; i < 32; ++i)
            out[i] = static_cast<uint8_t>(~digest[i]);
}

} // namespace unrar::crypt
