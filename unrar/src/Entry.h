#pragma once
// What the format parsers learn from the headers, independent of the
// RAR 4.x / 5.0 encodings.
#include <cstdint>
#include <string>

namespace unrar {

enum class RarVersion { Rar4, Rar5 };

// How an entry's data is encrypted (RAR 4.x: the salt; RAR 5.0: its
// encryption record). Unknown: flagged, but by a method or with a cost
// that is not accepted, so it cannot be decrypted.
struct EntryCrypt {
    enum class Kind { None, Rar3, Rar5, Unknown };
    Kind kind = Kind::None;
    uint8_t salt[16] = {}; // RAR 4.x uses the first 8
    uint8_t iv[16] = {};
    unsigned kdfCount = 0;
    bool hasCheck = false;
    uint8_t check[12] = {}; // password check value and its checksum
    bool mac = false;       // stored checksums are MACs
};

struct MainInfo {
    RarVersion version = RarVersion::Rar5;
    unsigned archiveFlags = 0; // ROADF_* bits known from the main header
    bool volume = false;
    bool firstVolume = false;
    bool newNumbering = false;
    bool encryptedHeaders = false;
    EntryCrypt headerCrypt; // RAR 5.0: the archive encryption header
    bool oldStyleComment = false;
    bool damaged = false;    // the main header was read whole but is broken or fails its check
    uint64_t firstBlock = 0; // offset of the first block after the main header
};

struct Entry {
    std::string name;      // UTF-8 with '/' as separator (RAR 4.x '\' already mapped)
    std::wstring wideName; // same, as wide characters
    bool directory = false;
    bool splitBefore = false;
    bool splitAfter = false;
    bool encrypted = false;
    bool solid = false;
    bool unixHost = false;
    bool hasCrc = false;
    bool unpSizeKnown = true;
    uint64_t packSize = 0;
    uint64_t unpSize = 0;
    uint32_t hostOS = 2;
    uint32_t crc = 0;
    uint32_t dosTime = 0;
    uint32_t unpVer = 0;
    uint32_t method = 0x30;
    uint32_t attributes = 0;
    uint32_t dictKB = 0;
    uint32_t hashType = 0;
    uint8_t hash[32] = {};
    uint32_t redirType = 0;
    std::wstring redirTarget;
    bool dirTarget = false;
    uint64_t mtime = 0, ctime = 0, atime = 0; // FILETIME, UTC; 0 when absent
    uint64_t dataOffset = 0;
    EntryCrypt crypt;

    bool stored() const { return method == 0x30; }
};

enum class BlockType { File, Service, End, Other };

struct Block {
    BlockType type = BlockType::Other;
    Entry entry;                // File and Service
    bool endNextVolume = false; // End: another volume follows
    uint64_t next = 0;          // offset just past the block and its data
};

// EndOfData: nothing more, or a header the file ends inside. BadCrc: a
// header whose fields were read but whose check value does not match.
enum class ReadStatus { Ok, EndOfData, Broken, BadCrc };

} // namespace unrar
