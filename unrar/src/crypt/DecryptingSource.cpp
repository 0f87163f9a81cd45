#include "unrar/src/crypt/DecryptingSource.h"

#include <algorithm>
#include <cstring>

namespace unrar::crypt {

long long DecryptingSource::readBlocks(uint8_t* out, size_t want)
{
    size_t have = carried_;
    std::memcpy(out, carry_, carried_);
    carried_ = 0;
    while (have < want) {
        const long long n = in_.read(out + have, want - have);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    const size_t whole = have & ~size_t(15);
    carried_ = have - whole;
    std::memcpy(carry_, out + whole, carried_);
    if (whole == 0 && carried_ > 0) {
        error_ = ERAR_BAD_DATA; // the data ends inside a block
        return -1;
    }
    if (!aes_.decrypt(out, whole)) {
        error_ = ERAR_BAD_DATA;
        return -1;
    }
    return static_cast<long long>(whole);
}

long long DecryptingSource::read(uint8_t* out, size_t size)
{
    if (error_)
        return -1;
    if (plainPos_ == plainEnd_ && size >= 16)
        return readBlocks(out, size & ~size_t(15));
    if (plainPos_ == plainEnd_) {
        const long long n = readBlocks(plain_, 16);
        if (n <= 0)
            return n;
        plainPos_ = 0;
        plainEnd_ = static_cast<size_t>(n);
    }
    const size_t n = std::min(size, plainEnd_ - plainPos_);
    std::memcpy(out, plain_ + plainPos_, n);
    plainPos_ += n;
    return static_cast<long long>(n);
}

} // namespace unrar::crypt
