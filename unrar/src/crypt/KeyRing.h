#pragma once
// The password a handle holds and the keys derived from it. Derivations are
// slow by design, and archives repeat one salt for many headers and files,
// so the last few keys are kept. Everything is wiped when dropped.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "unrar/src/crypt/Kdf.h"

namespace unrar::crypt {

class KeyRing {
public:
    KeyRing();
    ~KeyRing();
    KeyRing(const KeyRing&) = delete;
    KeyRing& operator=(const KeyRing&) = delete;

    // An empty password is no password: it is never tried as a key.
    void setPassword(const std::string& utf8);
    void clear();
    bool hasPassword() const { return !password_.empty(); }
    const std::string& password() const { return password_; }

    const Rar3Key& rar3(const uint8_t salt[8]);
    // Null when the count is beyond what is accepted or libcrypto failed.
    const Rar5Key* rar5(const uint8_t salt[16], unsigned count);

private:
    static constexpr size_t kKept = 8;
    struct Rar3Entry {
        std::array<uint8_t, 8> salt;
        Rar3Key key;
    };
    struct Rar5Entry {
        std::array<uint8_t, 16> salt;
        unsigned count;
        Rar5Key key;
    };
    void wipeKeys();

    std::string password_;
    std::vector<Rar3Entry> rar3_;
    std::vector<Rar5Entry> rar5_;
};

} // namespace unrar::crypt
