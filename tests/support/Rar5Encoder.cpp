#include "tests/support/Rar5Encoder.h"

#include "tests/support/BitWriter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <queue>
#include <stdexcept>

namespace tavrel::test {
namespace {

constexpr size_t kMain = 306, kDist = 64, kLowDist = 16, kLen = 44;
constexpr uint32_t kMaxLength = 4097;

// Code lengths (at most 15 bits) from symbol frequencies: Huffman's
// construction, halving the counts until the longest code fits.
std::vector<uint8_t> codeLengths(std::vector<uint64_t> freq)
{
    const size_t n = freq.size();
    std::vector<uint8_t> lengths(n, 0);
    for (;;) {
        std::vector<size_t> used;
        for (size_t s = 0; s < n; ++s)
            if (freq[s])
                used.push_back(s);
        if (used.empty())
            return lengths;
        if (used.size() == 1) {
            lengths[used[0]] = 1;
            return lengths;
        }
        struct Node {
            uint64_t weight;
            int left, right;
        };
        std::vector<Node> nodes;
        using Item = std::pair<uint64_t, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (size_t s : used) {
            nodes.push_back({freq[s], -1, static_cast<int>(s)});
            heap.push({freq[s], static_cast<int>(nodes.size() - 1)});
        }
        while (heap.size() > 1) {
            auto [wa, a] = heap.top();
            heap.pop();
            auto [wb, b] = heap.top();
            heap.pop();
            nodes.push_back({wa + wb, a, b});
            heap.push({wa + wb, static_cast<int>(nodes.size() - 1)});
        }
        bool fits = true;
        std::fill(lengths.begin(), lengths.end(), 0);
        std::vector<std::pair<int, unsigned>> stack{{heap.top().second, 0}};
        while (!stack.empty()) {
            auto [i, depth] = stack.back();
            stack.pop_back();
            if (nodes[i].left < 0) {
                if (depth > 15)
                    fits = false;
                lengths[nodes[i].right] = static_cast<uint8_t>(std::min(depth, 15u));
            } else {
                stack.push_back({nodes[i].left, depth + 1});
                stack.push_back({nodes[i].right, depth + 1});
            }
        }
        if (fits)
            return lengths;
        for (uint64_t& f : freq)
            if (f)
                f = (f + 1) / 2;
    }
}

std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths)
{
    std::vector<uint32_t> codes(lengths.size(), 0);
    uint32_t code = 0;
    for (unsigned len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len)
                codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

struct Code {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    void build(const std::vector<uint64_t>& freq) { use(codeLengths(freq)); }
    void use(std::vector<uint8_t> l)
    {
        lengths = std::move(l);
        codes = canonicalCodes(lengths);
    }
    void put(BitWriter& bw, size_t s) const
    {
        if (!lengths[s])
            throw std::logic_error("Rar5Encoder: symbol without a code");
        bw.put(codes[s], lengths[s]);
    }
};

// One command of the stream.
struct Token {
    enum Kind { Literal, Match, Rep, LastRep, Filter } kind;
    uint32_t value = 0; // literal byte, length, or filter index
    uint64_t distance = 0;
    unsigned rep = 0;
};

unsigned lengthSlot(uint32_t length, uint32_t& extra, unsigned& bits)
{
    const uint32_t v = length - 2;
    if (v < 8) {
        bits = 0;
        extra = 0;
        return v;
    }
    unsigned h = 31 - static_cast<unsigned>(__builtin_clz(v));
    bits = h - 2;
    const unsigned slot = 4 * (bits + 1) + ((v >> bits) & 3);
    extra = v & ((1u << bits) - 1);
    return slot;
}

unsigned distanceSlot(uint64_t distance, uint64_t& extra, unsigned& bits)
{
    const uint64_t v = distance - 1;
    if (v < 4) {
        bits = 0;
        extra = 0;
        return static_cast<unsigned>(v);
    }
    unsigned h = 63 - static_cast<unsigned>(__builtin_clzll(v));
    bits = h - 1;
    const unsigned slot = 2 * h + static_cast<unsigned>((v >> bits) & 1);
    extra = v & ((uint64_t(1) << bits) - 1);
    return slot;
}

unsigned bonus(uint64_t d) { return (d > 0x100) + (d > 0x2000) + (d > 0x40000); }

void putNumber(BitWriter& bw, uint32_t v)
{
    unsigned bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
    bw.put(bytes - 1, 2);
    for (unsigned i = 0; i < bytes; ++i)
        bw.put((v >> (8 * i)) & 0xFF, 8);
}

void writeTables(BitWriter& bw, const std::array<Code, 4>& codes)
{
    std::vector<uint8_t> all;
    for (const Code& c : codes)
        all.insert(all.end(), c.lengths.begin(), c.lengths.end());
    // Stage 2: run-length coded lengths.
    struct Item {
        unsigned symbol, extra, bits;
    };
    std::vector<Item> items;
    for (size_t i = 0; i < all.size();) {
        size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i])
            ++run;
        if (all[i] == 0 && run >= 3) {
            const size_t n = std::min<size_t>(run, 138);
            items.push_back(n >= 11 ? Item{19, unsigned(n - 11), 7} : Item{18, unsigned(n - 3), 3});
            i += n;
        } else if (i > 0 && all[i] == all[i - 1] && run >= 3) {
            const size_t n = std::min<size_t>(run, 138);
            items.push_back(n >= 11 ? Item{17, unsigned(n - 11), 7} : Item{16, unsigned(n - 3), 3});
            i += n;
        } else {
            items.push_back({all[i], 0, 0});
            ++i;
        }
    }
    std::vector<uint64_t> freq(20, 0);
    for (const Item& it : items)
        ++freq[it.symbol];
    Code bitLengths;
    bitLengths.build(freq);
    // Stage 1: 20 four-bit lengths, 15 escaped, zero runs as 15 + count.
    for (size_t i = 0; i < 20;) {
        const uint8_t l = bitLengths.lengths[i];
        if (l == 15) {
            bw.put(15, 4);
            bw.put(0, 4);
            ++i;
            continue;
        }
        size_t run = 0;
        while (l == 0 && i + run < 20 && bitLengths.lengths[i + run] == 0)
            ++run;
        if (l == 0 && run >= 3) {
            const size_t n = std::min<size_t>(run, 17);
            bw.put(15, 4);
            bw.put(n - 2, 4);
            i += n;
            continue;
        }
        bw.put(l, 4);
        ++i;
    }
    for (const Item& it : items) {
        bitLengths.put(bw, it.symbol);
        if (it.bits)
            bw.put(it.extra, it.bits);
    }
}

} // namespace

std::string applyForwardFilter(const std::string& data, const Rar5Filter& f)
{
    std::string out = data;
    auto* d = reinterpret_cast<uint8_t*>(out.data());
    const auto* in = reinterpret_cast<const uint8_t*>(data.data());
    const uint64_t base = f.start;
    const uint32_t length = f.length;
    uint8_t* r = d + f.start;
    const uint8_t* o = in + f.start;
    auto le32 = [](const uint8_t* p) { return uint32_t(p[0]) | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; };
    auto put32 = [](uint8_t* p, uint32_t v) {
        for (int k = 0; k < 4; ++k)
            p[k] = static_cast<uint8_t>(v >> (8 * k));
    };
    switch (f.type) {
    case Rar5Filter::Delta: {
        size_t j = 0;
        for (unsigned c = 0; c < f.channels; ++c) {
            uint8_t prev = 0;
            for (uint32_t k = c; k < length; k += f.channels) {
                r[j++] = static_cast<uint8_t>(prev - o[k]);
                prev = o[k];
            }
        }
        break;
    }
    case Rar5Filter::E8:
    case Rar5Filter::E8E9:
        for (uint32_t i = 0; i + 4 < length;) {
            const uint8_t op = o[i++];
            if (op != 0xE8 && !(f.type == Rar5Filter::E8E9 && op == 0xE9))
                continue;
            const int64_t pos = static_cast<int64_t>((base + i) & 0xFFFFFF);
            const int64_t rel = static_cast<int32_t>(le32(o + i));
            if (rel >= -pos && rel < 0x1000000 - pos)
                put32(r + i, static_cast<uint32_t>(rel + pos));
            else if (rel >= 0x1000000 - pos && rel < 0x1000000)
                put32(r + i, static_cast<uint32_t>(rel - 0x1000000));
            i += 4;
        }
        break;
    case Rar5Filter::Arm:
        for (uint32_t i = 0; i + 3 < length; i += 4) {
            if (o[i + 3] != 0xEB)
                continue;
            uint32_t off = le32(o + i) & 0xFFFFFF;
            off = (off + static_cast<uint32_t>((base + i) / 4)) & 0xFFFFFF;
            put32(r + i, off | 0xEB000000);
        }
        break;
    }
    return out;
}

Rar5Encoder::Rar5Encoder(unsigned dictExponent, size_t blockInput)
    : dictExponent_(dictExponent), blockInput_(blockInput)
{}

std::string Rar5Encoder::encode(const std::string& original, const std::vector<Rar5Filter>& filters)
{
    std::string data = original;
    for (const Rar5Filter& f : filters)
        data = applyForwardFilter(data, f);
    const size_t base = history_.size();
    history_ += data;
    const auto* h = reinterpret_cast<const uint8_t*>(history_.data());
    // Matches reach back at most 4 MiB, whatever the dictionary declared.
    const uint64_t window = std::min(uint64_t(128 << 10) << dictExponent_, uint64_t(4) << 20);
    const size_t end = history_.size();

    // Greedy parse: the longest of the repeat distances and a few
    // hash-chain candidates, a repeat preferred when nearly as long.
    constexpr unsigned kHashBits = 16, kChain = 8;
    std::vector<int64_t> head(size_t(1) << kHashBits, -1);
    std::vector<int64_t> prev(static_cast<size_t>(window), -1); // chain links, by position modulo the window
    const size_t ringMask = static_cast<size_t>(window) - 1;
    auto hash = [h](size_t i) {
        return (uint32_t(h[i]) | h[i + 1] << 8 | h[i + 2] << 16) * 2654435761u >> (32 - kHashBits);
    };
    auto insert = [&](size_t i) {
        if (i + 3 > end)
            return;
        const uint32_t k = hash(i);
        prev[i & ringMask] = head[k];
        head[k] = static_cast<int64_t>(i);
    };
    for (size_t i = base > window ? base - window : 0; i < base; ++i)
        insert(i);
    auto matchLength = [&](size_t i, uint64_t d) {
        const size_t limit = std::min<size_t>(end - i, kMaxLength);
        size_t n = 0;
        while (n < limit && h[i + n] == h[i + n - d])
            ++n;
        return static_cast<uint32_t>(n);
    };

    std::vector<Token> tokens;
    std::vector<size_t> tokenPos; // entry offset where each token starts
    size_t nextFilter = 0;
    for (size_t i = base; i < end;) {
        const size_t p = i - base;
        while (nextFilter < filters.size() && p + 4200 > filters[nextFilter].start) {
            tokens.push_back({Token::Filter, static_cast<uint32_t>(nextFilter)});
            tokenPos.push_back(p);
            ++nextFilter;
        }
        uint32_t bestLen = 0;
        uint64_t bestDist = 0;
        int bestRep = -1;
        for (int k = 0; k < 4; ++k) {
            const uint64_t d = rep_[k];
            if (d == 0 || d > i || d > window)
                continue;
            const uint32_t n = matchLength(i, d);
            if (n >= 2 && n > bestLen) {
                bestLen = n;
                bestDist = d;
                bestRep = k;
            }
        }
        if (i + 3 <= end) {
            int64_t c = head[hash(i)];
            for (unsigned step = 0; c >= 0 && step < kChain; ++step) {
                const uint64_t d = i - static_cast<size_t>(c);
                if (d > window - 1)
                    break;
                const uint32_t n = matchLength(i, d);
                if (n >= 4 && n >= 2 + bonus(d) && n > bestLen + (bestRep >= 0 ? 2 : 0)) {
                    bestLen = n;
                    bestDist = d;
                    bestRep = -1;
                }
                const int64_t older = prev[static_cast<size_t>(c) & ringMask];
                if (older >= c)
                    break; // the link was overwritten by a newer position
                c = older;
            }
        }
        tokenPos.push_back(p);
        if (bestLen == 0) {
            tokens.push_back({Token::Literal, h[i]});
            insert(i);
            ++i;
            continue;
        }
        if (bestRep == 0 && bestLen == lastLen_) {
            tokens.push_back({Token::LastRep, bestLen, bestDist});
        } else if (bestRep >= 0) {
            tokens.push_back({Token::Rep, bestLen, bestDist, static_cast<unsigned>(bestRep)});
            for (int j = bestRep; j > 0; --j)
                rep_[j] = rep_[j - 1];
            rep_[0] = bestDist;
            lastLen_ = bestLen;
        } else {
            tokens.push_back({Token::Match, bestLen, bestDist});
            rep_[3] = rep_[2];
            rep_[2] = rep_[1];
            rep_[1] = rep_[0];
            rep_[0] = bestDist;
            lastLen_ = bestLen;
        }
        for (uint32_t k = 0; k < bestLen; ++k)
            insert(i + k);
        i += bestLen;
    }
    while (nextFilter < filters.size()) {
        tokens.push_back({Token::Filter, static_cast<uint32_t>(nextFilter++)});
        tokenPos.push_back(data.size());
    }

    // Blocks of about blockInput_ bytes, each with tables made for its own
    // symbols (every symbol keeps a code, so the tables can be kept). Only
    // the first block of a solid continuation keeps the ones in force.
    std::string out;
    std::array<Code, 4> codes;
    const bool continuation = !tables_[0].empty();
    if (continuation)
        for (size_t k = 0; k < codes.size(); ++k)
            codes[k].use(tables_[k]);
    size_t t = 0;
    int blockIndex = 0;
    do {
        size_t stop = t;
        while (stop < tokens.size() && tokenPos[stop] < tokenPos[t] + blockInput_)
            ++stop;
        if (stop == t && stop < tokens.size())
            ++stop;
        const bool withTables = blockIndex == 0 ? !continuation : !(omitMidEntry_ && blockIndex % 2 == 1);
        BitWriter bw;
        if (withTables) {
            std::vector<uint64_t> mainF(kMain, 1), distF(kDist, 1), lowF(kLowDist, 1), lenF(kLen, 1);
            for (size_t k = t; k < stop; ++k) {
                const Token& tk = tokens[k];
                uint32_t extra;
                unsigned bits;
                switch (tk.kind) {
                case Token::Literal: mainF[tk.value] += 4; break;
                case Token::Filter: ++mainF[256]; break;
                case Token::LastRep: mainF[257] += 4; break;
                case Token::Rep:
                    mainF[258 + tk.rep] += 4;
                    lenF[lengthSlot(tk.value, extra, bits)] += 4;
                    break;
                case Token::Match: {
                    mainF[262 + lengthSlot(tk.value - bonus(tk.distance), extra, bits)] += 4;
                    uint64_t dx;
                    unsigned db;
                    const unsigned slot = distanceSlot(tk.distance, dx, db);
                    distF[slot] += 4;
                    if (db >= 4)
                        lowF[dx & 15] += 4;
                    break;
                }
                }
            }
            codes[0].build(mainF);
            codes[1].build(distF);
            codes[2].build(lowF);
            codes[3].build(lenF);
            writeTables(bw, codes);
        }
        for (size_t k = t; k < stop; ++k) {
            const Token& tk = tokens[k];
            uint32_t extra;
            unsigned bits;
            switch (tk.kind) {
            case Token::Literal: codes[0].put(bw, tk.value); break;
            case Token::Filter: {
                const Rar5Filter& f = filters[tk.value];
                codes[0].put(bw, 256);
                putNumber(bw, static_cast<uint32_t>(f.start - tokenPos[k]));
                putNumber(bw, f.length);
                bw.put(f.type, 3);
                if (f.type == Rar5Filter::Delta)
                    bw.put(f.channels - 1, 5);
                break;
            }
            case Token::LastRep: codes[0].put(bw, 257); break;
            case Token::Rep: {
                codes[0].put(bw, 258 + tk.rep);
                codes[3].put(bw, lengthSlot(tk.value, extra, bits));
                if (bits)
                    bw.put(extra, bits);
                break;
            }
            case Token::Match: {
                codes[0].put(bw, 262 + lengthSlot(tk.value - bonus(tk.distance), extra, bits));
                if (bits)
                    bw.put(extra, bits);
                uint64_t dx;
                unsigned db;
                codes[1].put(bw, distanceSlot(tk.distance, dx, db));
                if (db < 4) {
                    if (db)
                        bw.put(dx, db);
                } else {
                    if (db > 4)
                        bw.put(dx >> 4, db - 4);
                    codes[2].put(bw, dx & 15);
                }
                break;
            }
            }
        }
        const bool last = stop == tokens.size();
        const size_t size = bw.out.size();
        const unsigned lastBits = bw.bits % 8 == 0 ? 8 : static_cast<unsigned>(bw.bits % 8);
        const unsigned sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
        if (size > 0xFFFFFF)
            throw std::logic_error("Rar5Encoder: block too large");
        const uint8_t flags =
            static_cast<uint8_t>((withTables ? 0x80 : 0) | (last ? 0x40 : 0) | (sizeBytes - 1) << 3 | (lastBits - 1));
        uint8_t check = static_cast<uint8_t>(0x5A ^ flags);
        std::string header(1, static_cast<char>(flags));
        header.push_back('\0');
        for (unsigned k = 0; k < sizeBytes; ++k) {
            const uint8_t b = static_cast<uint8_t>(size >> (8 * k));
            header.push_back(static_cast<char>(b));
            check ^= b;
        }
        header[1] = static_cast<char>(check);
        out += header + bw.out;
        t = stop;
        ++blockIndex;
    } while (t < tokens.size());
    for (size_t k = 0; k < codes.size(); ++k)
        tables_[k] = codes[k].lengths;
    return out;
}

} // namespace tavrel::test
