#pragma once
// An entry's encrypted packed data, decrypted as the decoder pulls it. The
// encrypted size is a whole number of AES blocks; a tail that is not one is
// damage.
#include <cstdint>

#include "unrar/include/unrar_api.h"
#include "unrar/src/crypt/AesCbc.h"
#include "unrar/src/decode/PackedSource.h"

namespace unrar::crypt {

class DecryptingSource final : public decode::PackedSource {
public:
    DecryptingSource(decode::PackedSource& in, AesCbcDecryptor& aes) : in_(in), aes_(aes) {}

    long long read(uint8_t* out, size_t size) override;
    int error() const override { return error_ ? error_ : in_.error(); }

private:
    // Reads up to `want` (a multiple of 16) encrypted bytes into `out`,
    // decrypts the whole blocks among them and keeps the rest for later.
    long long readBlocks(uint8_t* out, size_t want);

    decode::PackedSource& in_;
    AesCbcDecryptor& aes_;
    uint8_t carry_[16] = {}; // encrypted bytes of a block not yet complete
    size_t carried_ = 0;
    uint8_t plain_[16] = {}; // a decrypted block handed out in pieces
    size_t plainPos_ = 0, plainEnd_ = 0;
    int error_ = 0;
};

} // namespace unrar::crypt
