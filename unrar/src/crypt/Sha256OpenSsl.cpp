#include "unrar/src/crypt/Sha256.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/sha.h>

namespace unrar::crypt {

bool sha256(const uint8_t* data, size_t size, uint8_t out[32]) { return SHA256(data, size, out) != nullptr; }

struct HmacSha256::State {
    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    EVP_MAC_CTX* ctx = mac ? EVP_MAC_CTX_new(mac) : nullptr; // freeing it also wipes the key
    bool keyed = false;                                      // the first computation needs no re-initialisation
    ~State()
    {
        EVP_MAC_CTX_free(ctx);
        EVP_MAC_free(mac);
    }
};

HmacSha256::HmacSha256(const uint8_t* key, size_t keySize) : state_(std::make_unique<State>())
{
    char digest[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    // An empty key is still a key to HMAC; give OpenSSL a valid pointer.
    static const uint8_t none = 0;
    ok_ = state_->ctx && EVP_MAC_init(state_->ctx, keySize ? key : &none, keySize, params) == 1;
    state_->keyed = true;
}

HmacSha256::~HmacSha256() = default;

bool HmacSha256::compute(const uint8_t* data, size_t size, uint8_t out[32])
{
    if (!ok_)
        return false;
    if (!state_->keyed && EVP_MAC_init(state_->ctx, nullptr, 0, nullptr) != 1)
        return ok_ = false;
    state_->keyed = false;
    size_t n = 0;
    ok_ = EVP_MAC_update(state_->ctx, data, size) == 1 && EVP_MAC_final(state_->ctx, out, &n, 32) == 1 && n == 32;
    return ok_;
}

} // namespace unrar::crypt
