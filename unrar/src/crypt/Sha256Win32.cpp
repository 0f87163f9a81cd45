#include "unrar/src/crypt/Sha256.h"

#include <climits>

#include "unrar/src/crypt/BCryptHandlesWin32.h"

namespace unrar::crypt {
namespace {

// An empty key is still a key to HMAC; give CNG a valid pointer.
const uint8_t kNoKey = 0;

BCryptHashObject createHash(BCRYPT_ALG_HANDLE algorithm, const uint8_t* key, size_t keySize, ULONG flags)
{
    BCRYPT_HASH_HANDLE h = nullptr;
    if (!algorithm || keySize > ULONG_MAX ||
        !BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &h, nullptr, 0, const_cast<PUCHAR>(keySize ? key : &kNoKey),
                                         static_cast<ULONG>(keySize), flags)))
        return nullptr;
    return BCryptHashObject(h);
}

bool hashOnce(BCRYPT_HASH_HANDLE hash, const uint8_t* data, size_t size, uint8_t out[32])
{
    return hash && size <= ULONG_MAX &&
           BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(size), 0)) &&
           BCRYPT_SUCCESS(BCryptFinishHash(hash, out, 32, 0));
}

} // namespace

bool sha256(const uint8_t* data, size_t size, uint8_t out[32])
{
    const BCryptAlgorithm algorithm = openAlgorithm(BCRYPT_SHA256_ALGORITHM);
    const BCryptHashObject hash = createHash(algorithm.get(), nullptr, 0, 0);
    return hashOnce(hash.get(), data, size, out);
}

struct HmacSha256::State {
    BCryptAlgorithm algorithm = openAlgorithm(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    BCryptHashObject hash; // reusable: finishing it starts the next computation under the same key
};

HmacSha256::HmacSha256(const uint8_t* key, size_t keySize) : state_(std::make_unique<State>())
{
    state_->hash = createHash(state_->algorithm.get(), key, keySize, BCRYPT_HASH_REUSABLE_FLAG);
    ok_ = state_->hash != nullptr;
}

HmacSha256::~HmacSha256() = default;

bool HmacSha256::compute(const uint8_t* data, size_t size, uint8_t out[32])
{
    return ok_ = ok_ && hashOnce(state_->hash.get(), data, size, out);
}

} // namespace unrar::crypt
