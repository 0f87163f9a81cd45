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
    bool ready = false;
    ~Context() { wipe(iv, sizeof iv); }
};

AesCbcDecryptor::AesCbcDecryptor() : ctx_(std::make_unique<Context>()) {}
AesCbcDecryptor::~AesCbcDecryptor() = default;
AesCbcDecryptor::AesCbcDecryptor(AesCbcDecryptor&&) noexcept = default;
AesCbcDecryptor& AesCbcDecryptor::operator=(AesCbcDecryptor&&) noexcept = default;

bool AesCbcDecryptor::start(const uint8_t* key, size_t keyBytes, const uint8_t iv[16])
{
    ctx_->ready = false;
    ctx_->key.reset();
    BCRYPT_KEY_HANDLE h = nullptr;
    if (!ctx_->aes || (keyBytes != 16 && keyBytes != 32) ||
        !BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(ctx_->aes.get(), &h, nullptr, 0, const_cast<PUCHAR>(key),
                                                   static_cast<ULONG>(keyBytes), 0)))
        return false;
    ctx_->key.reset(h);
    std::memcpy(ctx_->iv, iv, sizeof ctx_->iv);
    ctx_->ready = true;
    return true;
}

bool AesCbcDecryptor::decrypt(uint8_t* data, size_t size)
{
    if (!ctx_->ready || size % 16 != 0)
        return false;
    while (size > 0) {
        const ULONG n = static_cast<ULONG>(size > (size_t(1) << 30) ? (size_t(1) << 30) : size);
        // The chain goes on from the last cipher block; it is kept here
        // rather than trusting what CNG leaves in the IV buffer.
        uint8_t next[16];
        std::memcpy(next, data + n - 16, 16);
        ULONG out = 0;
        if (!BCRYPT_SUCCESS(
                BCryptDecrypt(ctx_->key.get(), data, n, nullptr, ctx_->iv, sizeof ctx_->iv, data, n, &out, 0)) ||
            out != n)
            return ctx_->ready = false;
        std::memcpy(ctx_->iv, next, 16);
        data += n;
        size -= n;
    }
    return true;
}

} // namespace unrar::crypt
