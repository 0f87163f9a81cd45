#pragma once
// Ciphers and digests straight from the system's library (libcrypto on
// Linux, CNG on Windows), never through the UnRAR library's own code, so
// that fixtures and comparisons do not share a fault with what they test.
// Failures throw.
#include <memory>
#include <string>

namespace tavrel::test {

// AES-CBC, no padding: `plain` is whole 16-byte blocks; a 16- or 32-byte key.
std::string stockAesCbcEncrypt(const std::string& key, const std::string& iv, const std::string& plain);
std::string stockSha256(const std::string& data);
// PBKDF2-HMAC-SHA256, 32 bytes.
std::string stockPbkdf2Sha256(const std::string& password, const std::string& salt, unsigned iterations);

// SHA-1 fed piece by piece, with the digest of what it has had so far.
class StockSha1 {
public:
    StockSha1();
    ~StockSha1();
    StockSha1(const StockSha1&) = delete;
    StockSha1& operator=(const StockSha1&) = delete;

    void update(const void* data, size_t size);
    std::string digestSoFar() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace tavrel::test
