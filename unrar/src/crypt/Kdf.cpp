#include "unrar/src/crypt/Kdf.h"

#include <cstring>
#include <vector>

#include "unrar/src/TextConvert.h"
#include "unrar/src/crypt/Rar3Sha1.h"
#include "unrar/src/crypt/Sha256.h"
#include "unrar/src/crypt/Wipe.h"

namespace unrar::crypt {
namespace {

// Wipes a byte buffer when it goes out of scope.
struct Wiped {
    std::vector<uint8_t> bytes;
    ~Wiped()
    {
        if (!bytes.empty())
            wipe(bytes.data(), bytes.size());
    }
};

std::wstring limitedWide(const std::string& password)
{
    std::wstring w = utf8ToWide(password);
    if (w.size() > kMaxPasswordChars)
        w.resize(kMaxPasswordChars);
    return w;
}

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
        wipe(wide.data(), wide.size() * sizeof(wchar_t));
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
    wipe(digest, sizeof digest);
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
        wipe(wide.data(), wide.size() * sizeof(wchar_t));
    if (!utf8.empty())
        wipe(utf8.data(), utf8.size());

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
    wipe(u, sizeof u);
    wipe(acc, sizeof acc);
    wipe(next, sizeof next);
    wipe(check32, sizeof check32);
    return ok;
}

bool checkValueIntact(const uint8_t stored[12])
{
    uint8_t digest[32];
    return sha256(stored, 8, digest) && std::memcmp(digest, stored + 8, 4) == 0;
}

uint32_t macOfCrc(const Rar5Key& key, uint32_t crc)
{
    const uint8_t raw[4] = {static_cast<uint8_t>(crc), static_cast<uint8_t>(crc >> 8), static_cast<uint8_t>(crc >> 16),
                            static_cast<uint8_t>(crc >> 24)};
    uint8_t d[32];
    HmacSha256 hmac(key.hashKey, 32);
    if (!hmac.compute(raw, 4, d))
        return ~crc; // cannot match: a failure must not pass as a good checksum
    uint32_t mac = 0;
    for (int i = 0; i < 32; ++i)
        mac ^= uint32_t(d[i]) << (8 * (i % 4));
    return mac;
}

void macOfDigest(const Rar5Key& key, const uint8_t digest[32], uint8_t out[32])
{
    HmacSha256 hmac(key.hashKey, 32);
    if (!hmac.compute(digest, 32, out))
        for (int i = 0; i < 32; ++i)
            out[i] = static_cast<uint8_t>(~digest[i]);
}

} // namespace unrar::crypt
