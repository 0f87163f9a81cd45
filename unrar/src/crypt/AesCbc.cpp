#include "unrar/src/crypt/AesCbc.h"

#include <algorithm>

namespace unrar::crypt {

bool AesCbcDecryptor::start(const uint8_t* key, size_t keyBytes, const uint8_t iv[16])
{
    ready_ = (keyBytes == 16 || keyBytes == 32) && startCipher(key, keyBytes, iv);
    return ready_;
}

bool AesCbcDecryptor::decrypt(uint8_t* data, size_t size)
{
    if (!ready_ || size % 16 != 0)
        return false;
    // The libraries count in int or ULONG.
    constexpr size_t kMaxPiece = size_t(1) << 30;
    while (size > 0) {
        const size_t n = std::min(size, kMaxPiece);
        if (!decryptPiece(data, n))
            return ready_ = false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace unrar::crypt
