#include "unrar/src/crypt/KeyRing.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "unrar/src/crypt/Wipe.h"

namespace unrar::crypt {
namespace {

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// Fuzzing repeats the same few derivations for every input; remembering
// them across handles keeps the executions per second useful.
template <typename Key, typename Derive> bool derive(const std::string& id, Key& out, Derive run)
{
    static std::map<std::string, std::pair<bool, Key>> memo;
    auto it = memo.find(id);
    if (it == memo.end()) {
        if (memo.size() > 4096)
            memo.clear();
        Key k{};
        const bool ok = run(k);
        it = memo.emplace(id, std::make_pair(ok, k)).first;
    }
    out = it->second.second;
    return it->second.first;
}
#else
template <typename Key, typename Derive> bool derive(const std::string&, Key& out, Derive run) { return run(out); }
#endif

std::string memoId(const std::string& password, const uint8_t* salt, size_t saltSize, unsigned count)
{
    return password + '\0' + std::string(reinterpret_cast<const char*>(salt), saltSize) + char(count);
}

} // namespace

// Room for every kept key from the start: a reallocation would leave copies behind.
KeyRing::KeyRing()
{
    rar3_.reserve(kKept);
    rar5_.reserve(kKept);
}

KeyRing::~KeyRing() { clear(); }

void KeyRing::wipeKeys()
{
    if (!rar3_.empty())
        wipe(rar3_.data(), rar3_.size() * sizeof(Rar3Entry));
    if (!rar5_.empty())
        wipe(rar5_.data(), rar5_.size() * sizeof(Rar5Entry));
    rar3_.clear();
    rar5_.clear();
}

void KeyRing::clear()
{
    if (!password_.empty())
        wipe(password_.data(), password_.size());
    password_.clear();
    wipeKeys();
}

void KeyRing::setPassword(const std::string& utf8)
{
    clear();
    // Reserve first: a reallocation would leave a copy behind.
    password_.reserve(utf8.size());
    password_.assign(utf8);
}

const Rar3Key& KeyRing::rar3(const uint8_t salt[8])
{
    for (const Rar3Entry& e : rar3_)
        if (std::memcmp(e.salt.data(), salt, 8) == 0)
            return e.key;
    if (rar3_.size() == kKept) {
        wipe(&rar3_.front(), sizeof(Rar3Entry));
        rar3_.erase(rar3_.begin());
    }
    Rar3Entry e;
    std::copy_n(salt, 8, e.salt.begin());
    derive(memoId(password_, salt, 8, 0), e.key, [&](Rar3Key& k) {
        deriveRar3(password_, salt, k);
        return true;
    });
    rar3_.push_back(e);
    wipe(&e, sizeof e);
    return rar3_.back().key;
}

const Rar5Key* KeyRing::rar5(const uint8_t salt[16], unsigned count)
{
    for (const Rar5Entry& e : rar5_)
        if (e.count == count && std::memcmp(e.salt.data(), salt, 16) == 0)
            return &e.key;
    if (rar5_.size() == kKept) {
        wipe(&rar5_.front(), sizeof(Rar5Entry));
        rar5_.erase(rar5_.begin());
    }
    Rar5Entry e;
    std::copy_n(salt, 16, e.salt.begin());
    e.count = count;
    const bool ok = derive(memoId(password_, salt, 16, count), e.key,
                           [&](Rar5Key& k) { return deriveRar5(password_, salt, count, k); });
    if (ok)
        rar5_.push_back(e);
    wipe(&e, sizeof e);
    return ok ? &rar5_.back().key : nullptr;
}

} // namespace unrar::crypt
