#pragma once
// The key derivations of RAR 3.x/4.x (AES-128, iterated SHA-1 over the
// UTF-16 password and an 8-byte salt) and RAR 5.0 (AES-256, PBKDF2 with
// HMAC-SHA256, extended to give the MAC key and the password check).
#include <cstdint>
#include <string>

namespace unrar::crypt {

// RAR itself uses at most this many characters of a password.
constexpr size_t kMaxPasswordChars = 127;
// The largest RAR 5.0 iteration exponent accepted: 2^24 iterations, as the
// genuine library allows; a larger one is an unknown method, so a hostile
// archive cannot make a derivation run for minutes.
#ifndef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr unsigned kMaxRar5KdfCount = 24;
#else
// Fuzzing explores the reading, not 2^24 HMACs per mutated count.
constexpr unsigned kMaxRar5KdfCount = 16;
#endif

struct Rar3Key {
    uint8_t key[16];
    uint8_t iv[16];
};

struct Rar5Key {
    uint8_t key[32];     // AES-256
    uint8_t hashKey[32]; // for checksums stored as MACs
    uint8_t check[8];    // the password check value
};

// `password` is UTF-8; it is used as UTF-16 code units, little-endian.
void deriveRar3(const std::string& password, const uint8_t salt[8], Rar3Key& out);
// `count` is the binary logarithm of the iteration count, at most kMaxRar5KdfCount.
bool deriveRar5(const std::string& password, const uint8_t salt[16], unsigned count, Rar5Key& out);

// The first four bytes of SHA-256 over the 8 check bytes: whether a stored check value is intact.
bool checkValueIntact(const uint8_t stored[12]);
// A CRC-32 as RAR 5.0 stores it when checksums are MACs.
uint32_t macOfCrc(const Rar5Key& key, uint32_t crc);
// A BLAKE2sp digest as stored when checksums are MACs.
void macOfDigest(const Rar5Key& key, const uint8_t digest[32], uint8_t out[32]);

} // namespace unrar::crypt
