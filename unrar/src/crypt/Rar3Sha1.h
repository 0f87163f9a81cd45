#pragma once
// SHA-1 with the update step of the original RAR 3.x key derivation: a
// 64-byte block compressed straight from the caller's buffer is overwritten
// there with the last sixteen words of its message schedule. Passwords of
// 29 characters or more depend on it; no stock SHA-1 interface can do that.
#include <cstddef>
#include <cstdint>

namespace unrar::crypt {

class Rar3Sha1 {
public:
    Rar3Sha1();
    ~Rar3Sha1();
    // `data` may be altered as described above.
    void update(uint8_t* data, size_t size);
    // The digest of everything fed so far; the state is left as it was.
    void digest(uint8_t out[20]) const;

private:
    // Compresses one block; with `writeBack` the schedule's tail is stored into it.
    void compress(uint8_t* block, bool writeBack);

    uint32_t state_[5];
    uint64_t total_ = 0;
    uint8_t buffer_[64] = {};
};

} // namespace unrar::crypt
