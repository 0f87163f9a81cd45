#pragma once
// AES-CBC decryption without padding, in place, in whole 16-byte blocks;
// the chain continues from one call to the next. libcrypto on Linux, the
// system's CNG on Windows; either way the key schedule is made once per start.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace unrar::crypt {

class AesCbcDecryptor {
public:
    AesCbcDecryptor();
    ~AesCbcDecryptor();
    AesCbcDecryptor(AesCbcDecryptor&&) noexcept;
    AesCbcDecryptor& operator=(AesCbcDecryptor&&) noexcept;

    // `keyBytes` is 16 (AES-128) or 32 (AES-256).
    bool start(const uint8_t* key, size_t keyBytes, const uint8_t iv[16]);
    // `size` must be a multiple of 16.
    bool decrypt(uint8_t* data, size_t size);

private:
    // The backend's part (AesCbcOpenSsl.cpp or AesCbcWin32.cpp): the key
    // bytes are 16 or 32, a piece is whole blocks and at most 1 GiB.
    bool startCipher(const uint8_t* key, size_t keyBytes, const uint8_t iv[16]);
    bool decryptPiece(uint8_t* data, size_t size);

    struct Context;
    std::unique_ptr<Context> ctx_;
    bool ready_ = false;
};

} // namespace unrar::crypt
