#include "unrar/src/crypt/AesCbc.h"

#include <cstring>

#include "unrar/src/crypt/BCryptHandlesWin32.h"
#include "unrar/src/crypt/Wipe.h"

namespace unrar::crypt {
namespace {

BCryptAlgorithm openAesCbc()
{
    BCryptAlgorithm aes = openAlgorithm(BCRYPT_AES_ALGORITHM);
    if (aes && !BCRYPT_SUCCESS(BCryptSetProperty(aes.get(), BCRYPT_CHAINING_MODE,
                                                 reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_CBC)),
                                                 sizeof(BCRYPT_CHAIN_MODE_CBC), 0)))
        aes.reset();
    return aes;
}

} // namespace

struct AesCbcDecryptor::Context {
    BCryptAlgorithm aes = openAesCbc();
    BCryptKey key; // its key schedule, made once per start
    uint8_t iv[16] = {};
    ~Context() { wipe(iv, sizeof iv); }
};

AesCbcDecryptor::AesCbcDecryptor() : ctx_(std::make_unique<Context>()) {}
AesCbcDecryptor::~AesCbcDecryptor() = default;
AesCbcDecryptor::AesCbcDecryptor(AesCbcDecryptor&&) noexcept = default;
AesCbcDecryptor& AesCbcDecryptor::operator=(AesCbcDecryptor&&) noexcept = default;

bool AesCbcDecryptor::startCipher(const uint8_t* key, size_t keyBytes, const uint8_t iv[16])
{
    ctx_->key.reset();
    BCRYPT_KEY_HANDLE h = nullptr;
    if (!ctx_->aes || !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(
                          ctx_->aes.get(), &h, nullptr, 0, const_cast<PUCHAR>(key), static_cast<ULONG>(keyBytes), 0)))
        return false;
    ctx_->key.reset(h);
    std::memcpy(ctx_->iv, iv, sizeof ctx_->iv);
    return true;
}

bool AesCbcDecryptor::decryptPiece(uint8_t* data, size_t size)
{
    const ULONG n = static_cast<ULONG>(size);
    // The chain goes on from the last cipher block; it is kept here rather
    // than trusting what CNG leaves in the IV buffer.
    uint8_t next[16];
    std::memcpy(next, data + n - 16, 16);
    ULONG out = 0;
    if (!BCRYPT_SUCCESS(
            BCryptDecrypt(ctx_->key.get(), data, n, nullptr, ctx_->iv, sizeof ctx_->iv, data, n, &out, 0)) ||
        out != n)
        return false;
    std::memcpy(ctx_->iv, next, 16);
    return true;
}

} // namespace unrar::crypt
