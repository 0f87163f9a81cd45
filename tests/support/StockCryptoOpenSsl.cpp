#include "tests/support/StockCrypto.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <stdexcept>

namespace tavrel::test {
namespace {

const unsigned char* raw(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); }

void require(bool ok)
{
    if (!ok)
        throw std::runtime_error("libcrypto failed");
}

} // namespace

std::string stockAesCbcEncrypt(const std::string& key, const std::string& iv, const std::string& plain)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    const EVP_CIPHER* cipher = key.size() == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    std::string out(plain.size(), '\0');
    int n = 0;
    require(ctx && (key.size() == 16 || key.size() == 32) && iv.size() == 16 &&
            EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, raw(key), raw(iv)) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
            EVP_EncryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n, raw(plain),
                              static_cast<int>(plain.size())) == 1 &&
            static_cast<size_t>(n) == plain.size());
    return out;
}

std::string stockSha256(const std::string& data)
{
    std::string out(SHA256_DIGEST_LENGTH, '\0');
    require(SHA256(raw(data), data.size(), reinterpret_cast<unsigned char*>(out.data())) != nullptr);
    return out;
}

std::string stockPbkdf2Sha256(const std::string& password, const std::string& salt, unsigned iterations)
{
    std::string out(32, '\0');
    require(PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), raw(salt),
                              static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(), 32,
                              reinterpret_cast<unsigned char*>(out.data())) == 1);
    return out;
}

struct StockSha1::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

StockSha1::StockSha1() : state_(std::make_unique<State>())
{
    require(state_->ctx && EVP_DigestInit_ex(state_->ctx, EVP_sha1(), nullptr) == 1);
}

StockSha1::~StockSha1() = default;

void StockSha1::update(const void* data, size_t size) { require(EVP_DigestUpdate(state_->ctx, data, size) == 1); }

std::string StockSha1::digestSoFar() const
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> copy(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    std::string out(20, '\0');
    unsigned n = 0;
    require(copy && EVP_MD_CTX_copy_ex(copy.get(), state_->ctx) == 1 &&
            EVP_DigestFinal_ex(copy.get(), reinterpret_cast<unsigned char*>(out.data()), &n) == 1 && n == 20);
    return out;
}

} // namespace tavrel::test
