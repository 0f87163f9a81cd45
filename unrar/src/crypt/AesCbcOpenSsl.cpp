#include "unrar/src/crypt/AesCbc.h"

#include <openssl/evp.h>

namespace unrar::crypt {

struct AesCbcDecryptor::Context {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new(); // freeing it also wipes the key schedule
    bool ready = false;
    ~Context() { EVP_CIPHER_CTX_free(ctx); }
};

AesCbcDecryptor::AesCbcDecryptor() : ctx_(std::make_unique<Context>()) {}
AesCbcDecryptor::~AesCbcDecryptor() = default;
AesCbcDecryptor::AesCbcDecryptor(AesCbcDecryptor&&) noexcept = default;
AesCbcDecryptor& AesCbcDecryptor::operator=(AesCbcDecryptor&&) noexcept = default;

bool AesCbcDecryptor::start(const uint8_t* key, size_t keyBytes, const uint8_t iv[16])
{
    ctx_->ready = false;
    if (!ctx_->ctx)
        return false;
    const EVP_CIPHER* cipher = keyBytes == 16 ? EVP_aes_128_cbc() : keyBytes == 32 ? EVP_aes_256_cbc() : nullptr;
    if (!cipher || EVP_DecryptInit_ex(ctx_->ctx, cipher, nullptr, key, iv) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx_->ctx, 0);
    ctx_->ready = true;
    return true;
}

bool AesCbcDecryptor::decrypt(uint8_t* data, size_t size)
{
    if (!ctx_->ready || size % 16 != 0)
        return false;
    while (size > 0) {
        const int n = static_cast<int>(size > (size_t(1) << 30) ? (size_t(1) << 30) : size);
        int out = 0;
        if (EVP_DecryptUpdate(ctx_->ctx, data, &out, data, n) != 1 || out != n)
            return ctx_->ready = false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace unrar::crypt
