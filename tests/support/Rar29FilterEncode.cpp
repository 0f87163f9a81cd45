#include "tests/support/Rar29FilterEncode.h"

#include <cstdlib>

namespace tavrel::test {

std::string rgbFilterEncode(const std::string& original, uint32_t stride, uint32_t posR)
{
    const size_t n = original.size();
    // The decoder adds green to red and blue last; take it away first.
    std::string d = original;
    for (size_t i = posR; i + 2 < n; i += 3) {
        d[i] = static_cast<char>(original[i] - original[i + 1]);
        d[i + 2] = static_cast<char>(original[i + 2] - original[i + 1]);
    }
    auto at = [&d](size_t i) { return static_cast<int>(static_cast<uint8_t>(d[i])); };
    // Each channel in turn: the difference to the predicted byte, predicted
    // from the byte before in the channel and the two bytes above.
    std::string out;
    out.reserve(n);
    for (size_t channel = 0; channel < 3; ++channel) {
        int prev = 0;
        for (size_t i = channel; i < n; i += 3) {
            int predicted = prev;
            if (i >= stride) {
                const int up = at(i - stride + 3), upLeft = at(i - stride);
                const int pa = std::abs(up - upLeft), pb = std::abs(prev - upLeft),
                          pc = std::abs(prev + up - 2 * upLeft);
                if (pa <= pb && pa <= pc)
                    predicted = prev;
                else
                    predicted = pb <= pc ? up : upLeft;
            }
            out.push_back(static_cast<char>(predicted - at(i)));
            prev = at(i);
        }
    }
    return out;
}

std::string audioFilterEncode(const std::string& original, uint32_t channels)
{
    const size_t n = original.size();
    std::string out;
    out.reserve(n);
    for (size_t channel = 0; channel < channels && channel < n; ++channel) {
        int lastByte = 0, lastDelta = 0, d1 = 0, d2 = 0, d3 = 0;
        int k1 = 0, k2 = 0, k3 = 0;
        long long errors[7] = {};
        size_t count = 0;
        for (size_t i = channel; i < n; i += channels) {
            d3 = d2;
            d2 = lastDelta - d1;
            d1 = lastDelta;
            // The predictor works in 32-bit two's complement, then keeps the low byte.
            const int32_t sum =
                static_cast<int32_t>(static_cast<uint32_t>(8 * lastByte) + static_cast<uint32_t>(k1 * d1) +
                                     static_cast<uint32_t>(k2 * d2) + static_cast<uint32_t>(k3 * d3));
            const int predicted = (sum >> 3) & 0xFF;
            const int byte = static_cast<uint8_t>(original[i]);
            const int stored = (predicted - byte) & 0xFF;
            out.push_back(static_cast<char>(stored));
            lastDelta = static_cast<int8_t>(static_cast<uint8_t>(byte - lastByte));
            lastByte = byte;
            // The decoder adapts its weights from the stored byte; so must we.
            const int e = static_cast<int8_t>(static_cast<uint8_t>(stored)) * 8;
            const int tries[7] = {e, e - d1, e + d1, e - d2, e + d2, e - d3, e + d3};
            for (int j = 0; j < 7; ++j)
                errors[j] += std::abs(tries[j]);
            if (count % 32 == 0) {
                int best = 0;
                for (int j = 1; j < 7; ++j)
                    if (errors[j] < errors[best])
                        best = j;
                for (long long& x : errors)
                    x = 0;
                int* weight[7] = {nullptr, &k1, &k1, &k2, &k2, &k3, &k3};
                if (best > 0) {
                    int& k = *weight[best];
                    if (best % 2 == 1 && k >= -16)
                        --k;
                    else if (best % 2 == 0 && k < 16)
                        ++k;
                }
            }
            ++count;
        }
    }
    return out;
}

} // namespace tavrel::test
