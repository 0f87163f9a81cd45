#pragma once
// Encryption for test archives, as RAR 4.x (AES-128, salt before each
// encrypted header) and RAR 5.0 (AES-256, IV before each encrypted header,
// per-entry encryption record) lay it out. The keys come from the library's
// derivations, which are tested on their own against published vectors.
#include <cstdint>
#include <string>

#include "tests/support/RarWriter.h"

namespace tavrel::test {

class RarCipher {
public:
    // `kdfCount` is RAR 5.0's iteration exponent; RAR 4.x has none.
    RarCipher(RarFormat format, std::string password, unsigned kdfCount = 15);

    // The entry's data zero-padded to whole AES blocks and encrypted.
    std::string encryptData(const std::string& plain) const;
    // A header as stored when headers are encrypted.
    std::string sealHeader(const std::string& header) const;
    // RAR 4.x: the salt field of encrypted file headers.
    std::string rar4Salt() const { return salt_.substr(0, 8); }
    // RAR 5.0: the fields of a file's encryption record (after its type)
    // and of the archive encryption header (after its flags).
    std::string rar5FileRecord(bool macs) const;
    std::string rar5ArchiveRecord() const;
    // A CRC-32 as stored when checksums are MACs.
    uint32_t macOfCrc(uint32_t crc) const;

private:
    std::string encrypt(const std::string& plain, const std::string& iv) const;

    RarFormat format_;
    unsigned kdfCount_;
    std::string salt_, iv_, key_, hashKey_, check_;
    mutable uint32_t headerCount_ = 0; // a fresh IV for every RAR 5.0 header
};

} // namespace tavrel::test
