#pragma once
// CNG's algorithm providers, keys and hash objects as owning handles.
#include <windows.h>

#include <bcrypt.h>
#include <memory>

namespace unrar::crypt {

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct KeyDestroyer {
    void operator()(BCRYPT_KEY_HANDLE h) const { BCryptDestroyKey(h); }
};
struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
};
using BCryptAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using BCryptKey = std::unique_ptr<void, KeyDestroyer>;
using BCryptHashObject = std::unique_ptr<void, HashDestroyer>;

// Null when the system has no such algorithm.
inline BCryptAlgorithm openAlgorithm(const wchar_t* id, ULONG flags = 0)
{
    BCRYPT_ALG_HANDLE h = nullptr;
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&h, id, nullptr, flags)))
        return nullptr;
    return BCryptAlgorithm(h);
}

} // namespace unrar::crypt
