// The decryption's building blocks below the C interface: the key
// derivations against the published vectors, the SHA-1 variant of RAR 3.x,
// checksums as MACs, and decryption as the decoders pull data.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/StockCrypto.h"
#include "unrar/src/crypt/AesCbc.h"
#include "unrar/src/crypt/DecryptingSource.h"
#include "unrar/src/crypt/Kdf.h"
#include "unrar/src/crypt/Rar3Sha1.h"

namespace {

using namespace unrar::crypt;

std::vector<uint8_t> hex(const std::string& h)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> bytes(const uint8_t* p, size_t n) { return std::vector<uint8_t>(p, p + n); }
std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }
std::string text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(Rar3Kdf, MatchesThePublishedVector)
{
    Rar3Key k;
    deriveRar3("password", hex("be021b9a792a8a55").data(), k);
    EXPECT_EQ(bytes(k.key, 16), hex("a52c5531cd3f94c7cc75332f91aadcfc"));
    EXPECT_EQ(bytes(k.iv, 16), hex("b45e05c74948ed33f28b0ad47ad43937"));
}

TEST(Rar3Sha1, DigestsAsSha1AndRewritesOnlyBlocksTakenFromTheCallersBuffer)
{
    std::vector<uint8_t> data(64 * 3 + 10);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 37 + 11);
    const std::vector<uint8_t> original = data;

    Rar3Sha1 sha;
    uint8_t two[2] = {0xAB, 0xCD}; // leaves 2 bytes buffered, so the first block is assembled inside
    sha.update(two, 2);
    sha.update(data.data(), data.size());
    uint8_t ours[20];
    sha.digest(ours);

    std::vector<uint8_t> whole = {0xAB, 0xCD};
    whole.insert(whole.end(), original.begin(), original.end());
    tavrel::test::StockSha1 reference;
    reference.update(whole.data(), whole.size());
    EXPECT_EQ(bytes(ours, 20), bytes(reference.digestSoFar()));

    // The internal block took data[0..62); the blocks at 62 and 126 came
    // straight from the buffer and now hold W[64..79] of their schedule,
    // little-endian; the tail is untouched.
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 62, original.begin()));
    for (size_t start : {size_t(62), size_t(126)}) {
        uint32_t w[80];
        for (int t = 0; t < 16; ++t)
            w[t] = uint32_t(original[start + 4 * t]) << 24 | uint32_t(original[start + 4 * t + 1]) << 16 |
                   uint32_t(original[start + 4 * t + 2]) << 8 | original[start + 4 * t + 3];
        for (int t = 16; t < 80; ++t) {
            const uint32_t x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
            w[t] = (x << 1) | (x >> 31);
        }
        for (int t = 0; t < 16; ++t)
            for (int b = 0; b < 4; ++b)
                EXPECT_EQ(data[start + 4 * t + b], static_cast<uint8_t>(w[64 + t] >> (8 * b))) << start << " " << t;
    }
    EXPECT_TRUE(std::equal(data.begin() + 190, data.end(), original.begin() + 190));
}

// The derivation with a stock SHA-1, for comparison.
Rar3Key stockRar3(const std::string& asciiPassword, const std::vector<uint8_t>& salt)
{
    std::vector<uint8_t> p;
    for (char c : asciiPassword) {
        p.push_back(static_cast<uint8_t>(c));
        p.push_back(0);
    }
    p.insert(p.end(), salt.begin(), salt.end());
    tavrel::test::StockSha1 sha;
    Rar3Key k{};
    for (uint32_t i = 0; i < 0x40000; ++i) {
        sha.update(p.data(), p.size());
        const uint8_t counter[3] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)};
        sha.update(counter, 3);
        if (i % 0x4000 == 0)
            k.iv[i / 0x4000] = static_cast<uint8_t>(sha.digestSoFar()[19]);
    }
    const std::string d = sha.digestSoFar();
    for (int a = 0; a < 4; ++a)
        for (int b = 0; b < 4; ++b)
            k.key[4 * a + b] = static_cast<uint8_t>(d[4 * a + 3 - b]);
    return k;
}

TEST(Rar3Kdf, LongPasswordsTakeTheRewrittenBufferShortOnesAStockSha1)
{
    const std::vector<uint8_t> salt = hex("0102030405060708");
    const std::string shortPassword(28, 'x'); // 28 x 2 + 8 = 64 bytes: never a whole block from the buffer
    const std::string longPassword(40, 'y');
    Rar3Key ours, stock;
    deriveRar3(shortPassword, salt.data(), ours);
    stock = stockRar3(shortPassword, salt);
    EXPECT_EQ(bytes(ours.key, 16), bytes(stock.key, 16));
    EXPECT_EQ(bytes(ours.iv, 16), bytes(stock.iv, 16));
    deriveRar3(longPassword, salt.data(), ours);
    stock = stockRar3(longPassword, salt);
    EXPECT_NE(bytes(ours.key, 16), bytes(stock.key, 16));
}

TEST(Rar5Kdf, MatchesThePublishedVectorAndItsMacs)
{
    Rar5Key k;
    ASSERT_TRUE(deriveRar5("password", hex("c7445ee180f8b59fd62b433708bc57cd").data(), 15, k));
    EXPECT_EQ(bytes(k.key, 32), hex("d75c7cb7e22d81138d1a15988c785d5141b4fa5c2a691a49505abb7d60aee690"));
    EXPECT_EQ(bytes(k.hashKey, 32), hex("523ac49a98ec2fc579792683b1c0af69490ed5e775933e74ab382f03f278d8b7"));
    EXPECT_EQ(bytes(k.check, 8), hex("ea35671d70f12d4b"));
    std::vector<uint8_t> stored = hex("ea35671d70f12d4b6b9c1a9c");
    EXPECT_TRUE(checkValueIntact(stored.data()));
    stored[11] ^= 1;
    EXPECT_FALSE(checkValueIntact(stored.data()));
    EXPECT_EQ(macOfCrc(k, 0xa9fa1485u), 0x02a34518u);
}

TEST(Rar5Kdf, RefusesCountsBeyondTheCapAndCutsPasswordsTo127Characters)
{
    Rar5Key a, b;
    const std::vector<uint8_t> salt(16, 0x42);
    EXPECT_FALSE(deriveRar5("pw", salt.data(), kMaxRar5KdfCount + 1, a));
    ASSERT_TRUE(deriveRar5(std::string(127, 'a'), salt.data(), 1, a));
    ASSERT_TRUE(deriveRar5(std::string(200, 'a'), salt.data(), 1, b));
    EXPECT_EQ(bytes(a.key, 32), bytes(b.key, 32));
    // PBKDF2 of the system's library for comparison: count 1 is 2 iterations.
    ASSERT_TRUE(deriveRar5("pw", salt.data(), 1, a));
    EXPECT_EQ(bytes(a.key, 32), bytes(tavrel::test::stockPbkdf2Sha256("pw", text(salt), 2)));
    EXPECT_EQ(bytes(a.hashKey, 32), bytes(tavrel::test::stockPbkdf2Sha256("pw", text(salt), 2 + 16)));
}

// Hands out its data in reads of awkward sizes.
class DribbleSource final : public unrar::decode::PackedSource {
public:
    explicit DribbleSource(std::vector<uint8_t> d) : data_(std::move(d)) {}
    long long read(uint8_t* out, size_t size) override
    {
        const size_t n = std::min({size, data_.size() - pos_, size_t(7)});
        std::memcpy(out, data_.data() + pos_, n);
        pos_ += n;
        return static_cast<long long>(n);
    }
    int error() const override { return 0; }

private:
    std::vector<uint8_t> data_;
    size_t pos_ = 0;
};

TEST(DecryptingSource, DecryptsWhateverTheReadSizesAndRefusesAPartialBlock)
{
    uint8_t key[32], iv[16];
    for (int i = 0; i < 32; ++i)
        key[i] = static_cast<uint8_t>(i);
    std::memset(iv, 0x5A, sizeof iv);
    std::vector<uint8_t> plain(16 * 9);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<uint8_t>(i ^ 0x33);
    const std::vector<uint8_t> cipher =
        bytes(tavrel::test::stockAesCbcEncrypt(text(bytes(key, 32)), text(bytes(iv, 16)), text(plain)));

    for (size_t readSize : {size_t(1), size_t(5), size_t(16), size_t(40), size_t(1000)}) {
        DribbleSource in(cipher);
        AesCbcDecryptor aes;
        ASSERT_TRUE(aes.start(key, 32, iv));
        DecryptingSource source(in, aes);
        std::vector<uint8_t> got, buf(readSize);
        long long n;
        while ((n = source.read(buf.data(), buf.size())) > 0)
            got.insert(got.end(), buf.begin(), buf.begin() + n);
        EXPECT_EQ(n, 0) << readSize;
        EXPECT_EQ(got, plain) << readSize;
    }

    std::vector<uint8_t> cut(cipher.begin(), cipher.end() - 3);
    DribbleSource in(cut);
    AesCbcDecryptor aes;
    ASSERT_TRUE(aes.start(key, 32, iv));
    DecryptingSource source(in, aes);
    std::vector<uint8_t> buf(64);
    long long n;
    while ((n = source.read(buf.data(), buf.size())) > 0) {
    }
    EXPECT_EQ(n, -1);
    EXPECT_EQ(source.error(), ERAR_BAD_DATA);
}

} // namespace
