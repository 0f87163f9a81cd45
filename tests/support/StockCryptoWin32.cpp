#include "tests/support/StockCrypto.h"

#include <stdexcept>

#include "unrar/src/crypt/BCryptHandlesWin32.h"

namespace tavrel::test {
namespace {

using unrar::crypt::BCryptAlgorithm;
using unrar::crypt::BCryptHashObject;
using unrar::crypt::BCryptKey;
using unrar::crypt::openAlgorithm;

PUCHAR raw(const std::string& s) { return reinterpret_cast<PUCHAR>(const_cast<char*>(s.data())); }
PUCHAR raw(std::string& s) { return reinterpret_cast<PUCHAR>(s.data()); }

void require(bool ok)
{
    if (!ok)
        throw std::runtime_error("CNG failed");
}

BCryptHashObject createHash(BCRYPT_ALG_HANDLE algorithm)
{
    BCRYPT_HASH_HANDLE h = nullptr;
    require(algorithm && BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &h, nullptr, 0, nullptr, 0, 0)));
    return BCryptHashObject(h);
}

std::string finish(BCRYPT_HASH_HANDLE hash, size_t size)
{
    std::string out(size, '\0');
    require(BCRYPT_SUCCESS(BCryptFinishHash(hash, raw(out), static_cast<ULONG>(size), 0)));
    return out;
}

} // namespace

std::string stockAesCbcEncrypt(const std::string& key, const std::string& iv, const std::string& plain)
{
    BCryptAlgorithm aes = openAlgorithm(BCRYPT_AES_ALGORITHM);
    require(aes && (key.size() == 16 || key.size() == 32) && iv.size() == 16 &&
            BCRYPT_SUCCESS(BCryptSetProperty(aes.get(), BCRYPT_CHAINING_MODE,
                                             reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                             sizeof(BCRYPT_CHAIN_MODE_CBC), 0)));
    BCRYPT_KEY_HANDLE h = nullptr;
    require(BCRYPT_SUCCESS(
        BCryptGenerateSymmetricKey(aes.get(), &h, nullptr, 0, raw(key), static_cast<ULONG>(key.size()), 0)));
    const BCryptKey k(h);
    std::string chain = iv, out(plain.size(), '\0');
    ULONG n = 0;
    require(BCRYPT_SUCCESS(BCryptEncrypt(k.get(), raw(plain), static_cast<ULONG>(plain.size()), nullptr, raw(chain), 16,
                                         raw(out), static_cast<ULONG>(out.size()), &n, 0)) &&
            n == plain.size());
    return out;
}

std::string stockSha256(const std::string& data)
{
    const BCryptAlgorithm sha = openAlgorithm(BCRYPT_SHA256_ALGORITHM);
    const BCryptHashObject hash = createHash(sha.get());
    require(BCRYPT_SUCCESS(BCryptHashData(hash.get(), raw(data), static_cast<ULONG>(data.size()), 0)));
    return finish(hash.get(), 32);
}

std::string stockPbkdf2Sha256(const std::string& password, const std::string& salt, unsigned iterations)
{
    const BCryptAlgorithm hmac = openAlgorithm(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    std::string out(32, '\0');
    require(hmac && BCRYPT_SUCCESS(BCryptDeriveKeyPBKDF2(hmac.get(), raw(password), static_cast<ULONG>(password.size()),
                                                         raw(salt), static_cast<ULONG>(salt.size()), iterations,
                                                         raw(out), 32, 0)));
    return out;
}

struct StockSha1::State {
    BCryptAlgorithm sha = openAlgorithm(BCRYPT_SHA1_ALGORITHM);
    BCryptHashObject hash = createHash(sha.get());
};

StockSha1::StockSha1() : state_(std::make_unique<State>()) {}

StockSha1::~StockSha1() = default;

void StockSha1::update(const void* data, size_t size)
{
    require(BCRYPT_SUCCESS(
        BCryptHashData(state_->hash.get(), static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(size), 0)));
}

std::string StockSha1::digestSoFar() const
{
    BCRYPT_HASH_HANDLE h = nullptr;
    require(BCRYPT_SUCCESS(BCryptDuplicateHash(state_->hash.get(), &h, nullptr, 0, 0)));
    const BCryptHashObject copy(h);
    return finish(copy.get(), 20);
}

} // namespace tavrel::test
