#pragma once
// SHA-256 and HMAC-SHA256: libcrypto on Linux, the system's CNG on Windows.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace unrar::crypt {

bool sha256(const uint8_t* data, size_t size, uint8_t out[32]);

// HMAC-SHA256 under one key, computed again and again: the key is taken in
// once, not for each of the derivation's many rounds.
class HmacSha256 {
public:
    HmacSha256(const uint8_t* key, size_t keySize);
    ~HmacSha256();
    HmacSha256(const HmacSha256&) = delete;
    HmacSha256& operator=(const HmacSha256&) = delete;

    bool ok() const { return ok_; }
    // False (and from then on) when the library failed.
    bool compute(const uint8_t* data, size_t size, uint8_t out[32]);

private:
    struct State;
    std::unique_ptr<State> state_;
    bool ok_ = false;
};

} // namespace unrar::crypt
