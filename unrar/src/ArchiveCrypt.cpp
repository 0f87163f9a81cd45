// Passwords and decryption for one archive handle: when the password is
// asked for, how encrypted headers are opened, and the cipher and MAC key
// of the entry being read.

#include <cstring>

#include "unrar/src/Archive.h"
#include "unrar/src/crypt/Kdf.h"
#include "unrar/src/crypt/Wipe.h"

namespace unrar {
namespace {

// A RAR 5.0 password check: only a check value whose own checksum holds can
// judge a password; without one the data checksums will.
bool checkRefutes(const EntryCrypt& c, const crypt::Rar5Key& key)
{
    return c.hasCheck && crypt::checkValueIntact(c.check) && std::memcmp(key.check, c.check, 8) != 0;
}

} // namespace

int Archive::obtainPassword()
{
    if (keys_.hasPassword())
        return ERAR_SUCCESS;
    std::string password;
    const bool given = callbacks_.askPassword(password);
    if (given && !password.empty()) {
        keys_.setPassword(password);
        crypt::wipe(password.data(), password.size());
        return ERAR_SUCCESS;
    }
    // Refused or empty: the handle is finished, as with the genuine library.
    finishedCode_ = main_.version == RarVersion::Rar4 ? ERAR_BAD_DATA : ERAR_END_ARCHIVE;
    return ERAR_MISSING_PASSWORD;
}

int Archive::unlockHeaders(const VolumeFile& file, MainInfo& info, FormatReader& reader)
{
    if (info.version == RarVersion::Rar4) {
        // No check value: a wrong password shows as the first header's CRC.
        reader.decryptHeaders(&headerKeys_, info);
        return ERAR_SUCCESS;
    }
    const EntryCrypt& c = info.headerCrypt;
    if (c.kind != EntryCrypt::Kind::Rar5)
        return ERAR_UNKNOWN_FORMAT;
    const crypt::Rar5Key* key = headerKeys_.rar5(c.salt, c.kdfCount);
    if (!key)
        return ERAR_UNKNOWN;
    if (checkRefutes(c, *key))
        return ERAR_BAD_PASSWORD;
    reader.decryptHeaders(&headerKeys_, info);
    MainInfo inner = info;
    if (reader.readMain(file, info.firstBlock, inner) != ReadStatus::Ok)
        return ERAR_BAD_DATA;
    info = inner;
    return ERAR_SUCCESS;
}

int Archive::unlockLate()
{
    if (main_.version == RarVersion::Rar5 && main_.headerCrypt.kind != EntryCrypt::Kind::Rar5)
        return ERAR_UNKNOWN_FORMAT;
    int r = obtainPassword();
    if (r != ERAR_SUCCESS)
        return r;
    headerKeys_.setPassword(keys_.password());
    r = unlockHeaders(file_, main_, *reader_);
    if (r == ERAR_BAD_PASSWORD) {
        // Asked again at the next read.
        keys_.clear();
        headerKeys_.clear();
    }
    if (r != ERAR_SUCCESS)
        return r;
    headersLocked_ = false;
    flags_ = main_.archiveFlags;
    pos_ = main_.firstBlock;
    scanFirstHeaders();
    if (main_.damaged)
        finishedCode_ = ERAR_BAD_DATA;
    return ERAR_SUCCESS;
}

int Archive::prepareDecryption(const Entry& e, bool mayAsk)
{
    dropDecryption();
    if (e.crypt.kind == EntryCrypt::Kind::None)
        return ERAR_SUCCESS;
    if (e.crypt.kind == EntryCrypt::Kind::Unknown) {
        // RAR 4.x: an older cipher, after the password as the genuine
        // library asks for it; RAR 5.0: an unknown method, never asked.
        if (!e.encrypted)
            return ERAR_BAD_DATA;
        const int r = mayAsk ? obtainPassword() : ERAR_SUCCESS;
        return r != ERAR_SUCCESS ? r : ERAR_UNKNOWN_FORMAT;
    }
    if (!keys_.hasPassword()) {
        if (!mayAsk)
            return ERAR_MISSING_PASSWORD;
        const int r = obtainPassword();
        if (r != ERAR_SUCCESS)
            return r;
    }
    auto cipher = std::make_unique<crypt::AesCbcDecryptor>();
    bool started = false;
    if (e.crypt.kind == EntryCrypt::Kind::Rar3) {
        const crypt::Rar3Key& key = keys_.rar3(e.crypt.salt);
        started = cipher->start(key.key, 16, key.iv);
    } else {
        const crypt::Rar5Key* key = keys_.rar5(e.crypt.salt, e.crypt.kdfCount);
        if (!key)
            return ERAR_UNKNOWN;
        if (checkRefutes(e.crypt, *key)) {
            // RAR 5.0 forgets a password its check refuted and asks again next time.
            if (mayAsk)
                keys_.clear();
            return ERAR_BAD_PASSWORD;
        }
        entryKey_ = *key;
        mac_ = e.crypt.mac;
        started = cipher->start(key->key, 32, e.crypt.iv);
    }
    if (!started) {
        dropDecryption();
        return ERAR_UNKNOWN;
    }
    cipher_ = std::move(cipher);
    return ERAR_SUCCESS;
}

void Archive::dropDecryption()
{
    cipher_.reset();
    crypt::wipe(&entryKey_, sizeof entryKey_);
    mac_ = false;
}

uint32_t Archive::storedFormOfCrc(uint32_t crc) const { return mac_ ? crypt::macOfCrc(entryKey_, crc) : crc; }

bool Archive::digestMatches(const uint8_t digest[32], const uint8_t stored[32]) const
{
    if (!mac_)
        return std::memcmp(digest, stored, 32) == 0;
    uint8_t mac[32];
    crypt::macOfDigest(entryKey_, digest, mac);
    return std::memcmp(mac, stored, 32) == 0;
}

int Archive::refuseEntry(int code)
{
    if (rar5_)
        rar5_->invalidate();
    if (rar29_)
        rar29_->invalidate();
    rar29Owed_ = false;
    currentDecoded_ = true;
    uint32_t crc = 0;
    uint64_t total = 0;
    Entry last;
    const int r = walkParts(nullptr, crc, total, last);
    return code == ERAR_SUCCESS ? r : code;
}

} // namespace unrar
