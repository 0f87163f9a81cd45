#pragma once
// Writes small RAR 5.0 and RAR 4.x archives with stored entries, for test
// fixtures. Not part of the product: it knows only what the tests need
// (files, folders, links, a comment, volumes, deliberate damage).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "tests/support/Rar5Encoder.h"

namespace tavrel::test {

enum class RarFormat { Rar4, Rar5 };
enum class VolumeNaming { New, Old }; // name.partN.rar or name.rar, name.r00

// Fills `out` with the bytes of a generated entry starting at `offset`.
using RarDataGenerator = std::function<void(uint64_t offset, std::span<char> out)>;

struct RarEntry {
    // Symlink is a Unix link; the Windows kinds and FileCopy are RAR 5.0 only.
    enum class Kind { File, Directory, Symlink, Hardlink, WindowsSymlink, Junction, FileCopy };
    Kind kind = Kind::File;
    std::string name; // UTF-8, '/' separated; RAR 4.x stores '\' unless rawName
    bool rawName = false;
    std::string data; // used when no generator is set
    uint64_t generatedSize = 0;
    RarDataGenerator generator;
    std::string linkTarget;
    bool wrongCrc = false;
    bool encrypted = false;           // encrypted with the archive's password; without one only flagged
    bool unixHost = false;            // Unix mode attributes instead of Windows ones
    uint32_t attributes = 0;          // 0 = the usual default for the kind and host
    uint64_t claimedUnpackedSize = 0; // 0 = the real size; else a lie in the header
    unsigned method = 0;              // 0 store; 1-5 claim compression, data kept as given
    bool packed = false;              // data is a packed stream of `unpackedData`
    std::string unpackedData;         // what a packed entry decodes to
    unsigned unpVer = 0;              // RAR 4.x: 0 = 29 for packed data, else 20
    bool lz = false;                  // packed by Rar5Encoder when written (solid archives share one stream)
    std::vector<Rar5Filter> filters;  // for the encoder
    bool tablelessMidEntry = false;   // the encoder leaves tables out inside the entry (a reader test)
    unsigned dictExponent = 0;        // RAR 5.0 dictionary: 128 KiB << exponent
    unsigned algorithm = 0;           // RAR 5.0 compression algorithm version (0; 1 is RAR 7's)
    uint32_t unixTime = 0x66472F6E;   // 2024-05-17 10:20:30 UTC (RAR 5.0)
    uint32_t dosTime = 0x58B1528F;    // 2024-05-17 10:20:30 (RAR 4.x, local)
    // RAR 5.0 extra records, written when set:
    uint64_t filetime = 0; // mtime as a FILETIME in a time record
    std::string blake2;    // 32-byte BLAKE2sp digest, replacing the CRC-32 field
    uint64_t version = 0;  // file version record
    std::string ownerName; // Unix owner record with a user name

    uint64_t size() const { return generator ? generatedSize : data.size(); }
};

class RarWriter {
public:
    explicit RarWriter(RarFormat format) : format_(format) {}

    RarWriter& file(std::string name, std::string data);
    RarWriter& generated(std::string name, uint64_t size, RarDataGenerator generator);
    RarWriter& directory(std::string name);
    RarWriter& symlink(std::string name, std::string target);
    RarWriter& hardlink(std::string name, std::string target); // RAR 5.0 only
    RarWriter& windowsSymlink(std::string name, std::string target);
    RarWriter& junction(std::string name, std::string target);
    RarWriter& fileCopy(std::string name, std::string target);
    RarWriter& entry(RarEntry e);
    // Adjusts the entry added last.
    RarWriter& wrongCrc();
    RarWriter& encrypted();
    RarWriter& unixHost(uint32_t mode = 0);
    RarWriter& claimSize(uint64_t unpackedSize);
    RarWriter& packedWith(unsigned method); // the data is taken as already packed
    RarWriter& blake2(std::string digest);
    RarWriter& fileVersion(uint64_t version);
    RarWriter& ownerName(std::string name);
    RarWriter& mtimeFiletime(uint64_t filetime);
    // A RAR 5.0 entry really compressed (literals only, one block), so that
    // a decoder is exercised; RAR 5.0 archives only.
    RarWriter& compressed(std::string name, std::string data);
    // A RAR 4.x entry whose data is the given RAR 2.9 (or, with `unpVer`,
    // older) packed stream of `unpacked`.
    RarWriter& packedRar4(std::string name, std::string packedData, std::string unpacked, unsigned unpVer = 29);
    // A RAR 5.0 entry packed with matches (Rar5Encoder), with the filters
    // given; in a solid archive it may refer to earlier entries.
    RarWriter& lzCompressed(std::string name, std::string data, std::vector<Rar5Filter> filters = {},
                            unsigned dictExponent = 0);

    RarWriter& comment(std::string text, bool compressed = false); // CMT service header
    RarWriter& solid(bool on = true);
    RarWriter& locked(bool on = true);
    // Headers encrypted with the password; without one, the flag or
    // encryption header and then junk.
    RarWriter& encryptedHeaders(bool on = true);
    // Encrypts the entries marked encrypted (and the headers, when asked)
    // with `password`; RAR 5.0 stores checksums as MACs when `macs`, with
    // 2^kdfCount key derivation rounds.
    RarWriter& password(std::string password, bool macs = true, unsigned kdfCount = 15);
    RarWriter& volumes(int count, VolumeNaming naming = VolumeNaming::New);
    RarWriter& sfxStub(std::string bytes); // written before the signature

    // Writes `folder/stem.rar` (or the volume set) and returns the files
    // in volume order. Throws std::runtime_error on I/O failure.
    std::vector<std::filesystem::path> write(const std::filesystem::path& folder, const std::string& stem) const;

    static std::string volumeName(const std::string& stem, int index, int count, VolumeNaming naming);

private:
    RarEntry& last();
    std::vector<RarEntry> packedEntries() const;

    RarFormat format_;
    std::vector<RarEntry> entries_;
    std::string comment_;
    bool hasComment_ = false;
    bool commentCompressed_ = false;
    bool solid_ = false;
    bool locked_ = false;
    bool encryptedHeaders_ = false;
    std::string password_;
    bool macs_ = true;
    unsigned kdfCount_ = 15;
    int volumeCount_ = 1;
    VolumeNaming naming_ = VolumeNaming::New;
    std::string sfx_;
};

// Deterministic bytes for generated entries: cheap and not all zero, so a
// misplaced block shows as a CRC error.
void fillPattern(uint64_t offset, std::span<char> out);

} // namespace tavrel::test
