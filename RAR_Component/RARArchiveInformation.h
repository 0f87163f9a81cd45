#pragma once
// What the listing of an archive found: versions, sizes, counts and flags.
#include <cstdint>
#include <string>

class TRAR;

class TRARArchiveInformation {
public:
    // Empties every statistic and clears the opened marker.
    void Reset();

    const std::string& FileName() const { return fFileName; }
    std::uint32_t ArchiverMajorVersion() const { return fArchiverMajorVersion; }
    std::uint32_t ArchiverMinorVersion() const { return fArchiverMinorVersion; }
    std::int64_t DictionarySize() const { return fDictionarySize; }
    bool Encryption() const { return fEncryption; }
    bool Solid() const { return fSolid; }
    const std::u16string& HostOS() const { return fHostOS; }
    std::int32_t TotalFiles() const { return fTotalFiles; }
    std::int64_t CompressedSize() const { return fCompressedSize; }
    // Sum of the low 32 bits of each accounted entry's unpacked size, as the
    // component has always reported it.
    std::int64_t UnCompressedSize() const { return fUnCompressedSize; }
    // Sum of the whole 64-bit unpacked sizes: what unpacking will write.
    std::uint64_t UnpackedBytes() const { return fUnpackedBytes; }
    bool HeaderEncrypted() const { return fHeaderEncrypted; }
    bool MultiVolume() const { return fMultiVolume; }
    bool ArchiveComment() const { return fArchiveComment; }
    bool FileComment() const { return fFileComment; }
    const std::string& Comment() const { return fComment; }
    bool Signed() const { return fSigned; }
    bool Locked() const { return fLocked; }
    bool Recovery() const { return fRecovery; }
    bool SFX() const { return fSFX; }

private:
    friend class TRAR;

    bool fOpened = false;
    std::string fFileName;
    std::uint32_t fArchiverMajorVersion = 0;
    std::uint32_t fArchiverMinorVersion = 0;
    std::int64_t fDictionarySize = 0;
    bool fEncryption = false;
    bool fSolid = false;
    std::u16string fHostOS;
    std::int32_t fTotalFiles = 0;
    std::int64_t fCompressedSize = 0;
    std::int64_t fUnCompressedSize = 0;
    std::uint64_t fUnpackedBytes = 0;
    bool fHeaderEncrypted = false;
    bool fMultiVolume = false;
    bool fArchiveComment = false;
    bool fFileComment = false;
    std::string fComment;
    bool fSigned = false;
    bool fLocked = false;
    bool fRecovery = false;
    bool fSFX = false;
};
