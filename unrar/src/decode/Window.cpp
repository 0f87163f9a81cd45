#include "unrar/src/decode/Window.h"

#include <new>

namespace unrar::decode {

bool Window::allocate(size_t size, bool zeroFill)
{
    release();
    if (size < 16 || (size & (size - 1)))
        return false;
    data_.reset(zeroFill ? new (std::nothrow) uint8_t[size]() : new (std::nothrow) uint8_t[size]);
    if (!data_)
        return false;
    size_ = size;
    mask_ = size - 1;
    return true;
}

bool Window::grow(size_t size)
{
    if (size <= size_)
        return true;
    if (size & (size - 1))
        return false;
    std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[size]());
    if (!bigger)
        return false;
    // The last size_ bytes produced move to their slots in the larger ring.
    const uint64_t keep = pos_ < size_ ? pos_ : size_;
    const size_t newMask = size - 1;
    for (uint64_t p = pos_ - keep; p < pos_;) {
        const size_t from = static_cast<size_t>(p) & mask_, to = static_cast<size_t>(p) & newMask;
        size_t run = static_cast<size_t>(pos_ - p);
        if (run > size_ - from)
            run = size_ - from;
        if (run > size - to)
            run = size - to;
        std::memcpy(bigger.get() + to, data_.get() + from, run);
        p += run;
    }
    data_ = std::move(bigger);
    size_ = size;
    mask_ = newMask;
    return true;
}

void Window::release()
{
    data_.reset();
    size_ = 0;
    mask_ = 0;
    pos_ = 0;
}

void Window::copyOut(uint64_t from, size_t n, uint8_t* out) const
{
    if (size_ == 0)
        return;
    while (n > 0) {
        const size_t index = static_cast<size_t>(from) & mask_;
        const size_t run = n < size_ - index ? n : size_ - index;
        std::memcpy(out, data_.get() + index, run);
        out += run;
        from += run;
        n -= run;
    }
}

void Window::copyIn(uint64_t at, const uint8_t* in, size_t n)
{
    if (size_ == 0)
        return;
    while (n > 0) {
        const size_t index = static_cast<size_t>(at) & mask_;
        const size_t run = n < size_ - index ? n : size_ - index;
        std::memcpy(data_.get() + index, in, run);
        in += run;
        at += run;
        n -= run;
    }
}

} // namespace unrar::decode
