#include "unrar/src/crypt/AesCbc.h"

#include <openssl/evp.h>

namespace unrar::crypt {

struct AesCbcDecryptor::Context {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new(); // freeing it also wipes the key schedule
    ~Context() { EVP_CIPHER_CTX_free(ctx); }
};

AesCbcDecryptor::AesCbcDecryptor() : ctx_(std::make_unique<Context>()) {}
AesCbcDecryptor::~AesCbcDecryptor() = default;
AesCbcDecryptor::AesCbcDecryptor(AesCbcDecryptor&&) noexcept = default;
AesCbcDecryptor& AesCbcDecryptor::operator=(AesCbcDecryptor&&) noexcept = default;

bool AesCbcDecryptor::startCipher(const uint8_t* key, size_t keyBytes, const uint8_t iv[16])
{
    if (!ctx_->ctx ||
        EVP_DecryptInit_ex(ctx_->ctx, keyBytes == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr, key, iv) != 1)
        return false;
    EVP_CIPHER_CTX_set_padding(ctx_->ctx, 0);
    return true;
}

bool AesCbcDecryptor::decryptPiece(uint8_t* data, size_t size)
{
    const int n = static_cast<int>(size);
    int out = 0;
    return EVP_DecryptUpdate(ctx_->ctx, data, &out, data, n) == 1 && out == n;
}

} // namespace unrar::crypt
