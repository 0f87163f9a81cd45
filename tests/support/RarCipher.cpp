#include "tests/support/RarCipher.h"

#include <algorithm>

#include "tests/support/StockCrypto.h"
#include "unrar/src/crypt/Kdf.h"

namespace tavrel::test {
namespace {

std::string bytes(const uint8_t* p, size_t n) { return std::string(reinterpret_cast<const char*>(p), n); }
const uint8_t* raw(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

} // namespace

RarCipher::RarCipher(RarFormat format, std::string password, unsigned kdfCount) : format_(format), kdfCount_(kdfCount)
{
    salt_ = "\x5A\x17\x03\xC4\x9E\x21\x6B\xF0\x44\x8D\x12\x7E\xA9\x30\xD5\x66";
    iv_ = "\x0F\x1E\x2D\x3C\x4B\x5A\x69\x78\x87\x96\xA5\xB4\xC3\xD2\xE1\xF0";
    if (format == RarFormat::Rar4) {
        unrar::crypt::Rar3Key k;
        unrar::crypt::deriveRar3(password, raw(salt_), k);
        key_ = bytes(k.key, 16);
        iv_ = bytes(k.iv, 16);
        return;
    }
    unrar::crypt::Rar5Key k;
    // Beyond the accepted count no key can be made; the archive is still written, for the reader's refusal.
    if (!unrar::crypt::deriveRar5(password, raw(salt_), kdfCount, k))
        k = {};
    key_ = bytes(k.key, 32);
    hashKey_ = bytes(k.hashKey, 32);
    check_ = bytes(k.check, 8) + stockSha256(bytes(k.check, 8)).substr(0, 4);
}

std::string RarCipher::encrypt(const std::string& plain, const std::string& iv) const
{
    std::string padded = plain;
    padded.resize((plain.size() + 15) / 16 * 16, '\0');
    return stockAesCbcEncrypt(key_, iv, padded);
}

std::string RarCipher::encryptData(const std::string& plain) const { return encrypt(plain, iv_); }

std::string RarCipher::sealHeader(const std::string& header) const
{
    if (format_ == RarFormat::Rar4)
        return rar4Salt() + encrypt(header, iv_);
    std::string iv = iv_;
    const uint32_t n = ++headerCount_;
    for (int i = 0; i < 4; ++i)
        iv[i] = static_cast<char>(iv[i] ^ (n >> (8 * i)));
    return iv + encrypt(header, iv);
}

std::string RarCipher::rar5FileRecord(bool macs) const
{
    std::string r;
    r += '\0';                                        // version
    r += static_cast<char>(0x01 | (macs ? 0x02 : 0)); // check value present, MACs
    r += static_cast<char>(kdfCount_);
    return r + salt_ + iv_ + check_;
}

std::string RarCipher::rar5ArchiveRecord() const
{
    std::string r;
    r += '\0';   // version
    r += '\x01'; // check value present
    r += static_cast<char>(kdfCount_);
    return r + salt_ + check_;
}

uint32_t RarCipher::macOfCrc(uint32_t crc) const
{
    unrar::crypt::Rar5Key k{};
    std::copy(hashKey_.begin(), hashKey_.end(), k.hashKey);
    return unrar::crypt::macOfCrc(k, crc);
}

} // namespace tavrel::test
