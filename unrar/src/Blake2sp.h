#pragma once
// The BLAKE2sp digest (32 bytes) that RAR 5.0 may store for an entry in
// place of, or beside, its CRC-32.
#include <blake2.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace unrar {

class Blake2sp {
public:
    Blake2sp() { blake2sp_init(&state_, 32); }
    void update(const void* data, size_t size) { blake2sp_update(&state_, static_cast<const uint8_t*>(data), size); }
    std::array<uint8_t, 32> finish()
    {
        std::array<uint8_t, 32> digest{};
        blake2sp_final(&state_, digest.data(), digest.size());
        return digest;
    }

private:
    blake2sp_state state_;
};

} // namespace unrar
