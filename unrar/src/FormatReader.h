#pragma once
// Reads the headers of one archive format from a volume. Each call reads a
// single block; every size and offset it reports is checked against the
// header it came from, never trusted beyond it.
#include <memory>

#include "unrar/src/Entry.h"
#include "unrar/src/VolumeFile.h"
#include "unrar/src/crypt/KeyRing.h"

namespace unrar {

class FormatReader {
public:
    virtual ~FormatReader() = default;
    virtual RarVersion version() const = 0;
    // `offset` is just past the signature.
    virtual ReadStatus readMain(const VolumeFile& file, uint64_t offset, MainInfo& info) const = 0;
    virtual ReadStatus readBlock(const VolumeFile& file, uint64_t offset, Block& block) const = 0;

    // From now on headers are read decrypted, with keys from `keys` (RAR 5.0:
    // with the parameters of the archive encryption header in `info`).
    void decryptHeaders(crypt::KeyRing* keys, const MainInfo& info)
    {
        keys_ = keys;
        headerCrypt_ = info.headerCrypt;
    }

protected:
    crypt::KeyRing* keys_ = nullptr;
    EntryCrypt headerCrypt_;
};

// Reads the first bytes of a block, at least `minimum` of them: EndOfData
// when the file ends at `offset` or before `minimum`.
inline ReadStatus readBlockStart(const VolumeFile& file, uint64_t offset, uint8_t* out, size_t size, size_t minimum,
                                 size_t& got)
{
    const long long n = file.readAt(offset, out, size);
    if (n < 0)
        return ReadStatus::Broken;
    got = static_cast<size_t>(n);
    return n == 0 || got < minimum ? ReadStatus::EndOfData : ReadStatus::Ok;
}

std::unique_ptr<FormatReader> makeRar4Reader();
std::unique_ptr<FormatReader> makeRar5Reader();

enum class Signature { None, Rar4, Rar5, Unsupported };

// Finds the RAR signature at the start of the file or after a
// self-extracting stub; `offset` receives the position just past it.
Signature findSignature(const VolumeFile& file, uint64_t& offset);

} // namespace unrar
