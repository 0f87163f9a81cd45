#pragma once
// One open archive handle: walks the headers volume by volume and tests or
// extracts the entry whose header was read last.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "unrar/src/Callbacks.h"
#include "unrar/src/Destination.h"
#include "unrar/src/Entry.h"
#include "unrar/src/ExtractedItems.h"
#include "unrar/src/FormatReader.h"
#include "unrar/src/VolumeFile.h"
#include "unrar/src/crypt/AesCbc.h"
#include "unrar/src/crypt/KeyRing.h"
#include "unrar/src/decode/OutputPipeline.h"
#include "unrar/src/decode/Rar5Decoder.h"
#include "unrar/src/decode/rar29/Decoder.h"

namespace unrar {

class OutputFile;

struct OpenRequest {
    std::string path;
    unsigned mode = RAR_OM_LIST;
    Callbacks callbacks;
    bool keepBroken = false; // ROADOF_KEEPBROKEN: files failing their check stay
};

// Where an extracted item goes: below which destination folder, in which
// folder there (components) and under which name.
struct Place {
    FileId root;
    std::vector<std::string> folder;
    std::string leaf;
    std::string path() const; // folder and leaf joined by '/'
};

// The mode and times an extracted item gets.
EntryMeta metaOf(const Entry& e);

struct CommentText {
    bool present = false;  // the archive has a comment
    bool readable = false; // and its text could be read
    std::wstring text;
};

class Archive {
public:
    // Returns the archive or null with `result` set to the ERAR_* code.
    static std::unique_ptr<Archive> open(const OpenRequest& request, int& result);

    unsigned archiveFlags() const { return flags_; }
    const CommentText& comment() const { return comment_; }
    Callbacks& callbacks() { return callbacks_; }
    void setPassword(const std::string& password) { keys_.setPassword(password); }

    int readHeader();
    const Entry& current() const { return *current_; }
    const std::string& volumeName() const { return volumeName_; }
    int process(int operation, const char* destPath, const char* destName);

private:
    using Sink = std::function<int(const unsigned char*, size_t)>;

    Archive() = default;
    int openVolume(const std::string& path, VolumeFile& file, MainInfo& info, std::unique_ptr<FormatReader>& reader);
    int switchVolume();
    void scanFirstHeaders();
    int walkParts(const Sink* sink, uint32_t& crc, uint64_t& total, Entry& lastPart);
    // Decodes the current RAR 4.x entry (all its parts) through the RAR 2.9
    // decoder (ArchiveDecode.cpp) into `out` when given; `notify` shows the
    // data to the application. With neither the output is only checked
    // off, as a skipped file of a solid archive must still be decoded.
    int decodeRar29(OutputFile* out, bool notify, uint32_t& crc, uint64_t& total, Entry& lastPart);
    // Moves past the current entry's data, decoding it when a solid stream needs it.
    int passOver();
    // After a part's data: moves to the entry's continuation in the next volume.
    int nextPart(Entry& part);
    // Our own decoder (ArchiveDecode.cpp): RAR 5.0 compressed entries.
    bool decodesOwn(const Entry& e) const;
    int decodeOwn(const Entry& e, OutputFile* out, uint32_t& crc, uint64_t& total, Entry& lastPart);
    // In a solid archive an entry passed over is still decoded, so that the next one can be.
    int decodeSkipped();
    // Encryption (ArchiveCrypt.cpp).
    // A password from the handle, or else from the application; 22 when
    // refused or empty, and the handle is finished.
    int obtainPassword();
    // Reads a volume's main header through its encrypted headers with the
    // handle's password (RAR 5.0: after its password check).
    int unlockHeaders(const VolumeFile& file, MainInfo& info, FormatReader& reader);
    // At the first header read when the open could not ask.
    int unlockLate();
    // Makes the cipher (and MAC key) for the current entry's data; with
    // `mayAsk` false no password is requested.
    int prepareDecryption(const Entry& e, bool mayAsk);
    void dropDecryption();
    // The checksum as stored: a MAC when the entry says so.
    uint32_t storedFormOfCrc(uint32_t crc) const;
    bool digestMatches(const uint8_t digest[32], const uint8_t stored[32]) const;
    // Encrypted stored entry: decrypted part by part, the padding dropped.
    int readStoredEncrypted(OutputFile* out, uint32_t& crc, uint64_t& total, Entry& lastPart);
    // An encrypted entry that cannot be decrypted now: its data is passed and a solid stream broken.
    int refuseEntry(int code);
    // The folder below destPath that the entry's stored name leads to, opened
    // without following links, and where the entry goes; `root` is destPath
    // itself.
    int locateBelow(const Entry& e, const char* destPath, DirHandle& root, DirHandle& folder, Place& place);
    int makeOutput(const Entry& e, const char* destPath, const char* destName, OutputFile& out, Place* place = nullptr);
    // Opens the destination and the folder an item goes to, as for a file.
    int locate(const Entry& e, const char* destPath, const char* destName, DirHandle& root, DirHandle& folder,
               Place& place);
    // Links: tested without data for the application, created only where safe.
    int processLink(const Entry& e, bool extract, const char* destPath, const char* destName);
    int extractSymlink(const Entry& e, const std::string& target, const char* destPath, const char* destName);
    int extractCopy(const Entry& e, const std::string& target, const char* destPath, const char* destName);
    int extractFolder(const Entry& e, const char* destPath, const char* destName);

    OpenRequest request_;
    Callbacks callbacks_;
    MainInfo main_;
    unsigned flags_ = 0;
    CommentText comment_;
    std::unique_ptr<FormatReader> reader_;
    VolumeFile file_;
    std::string volumeName_;
    std::vector<std::string> volumes_;
    uint64_t pos_ = 0;

    std::optional<Entry> current_;
    bool headerPending_ = false;
    bool lastSplitAfter_ = false;
    int64_t ordinal_ = -1; // position of the current entry among the archive's entries

    crypt::KeyRing keys_;                            // for entries
    crypt::KeyRing headerKeys_;                      // the password that opened encrypted headers
    bool headersLocked_ = false;                     // encrypted headers not read yet
    std::unique_ptr<crypt::AesCbcDecryptor> cipher_; // the current entry's data
    crypt::Rar5Key entryKey_{};                      // its RAR 5.0 keys, for MACs
    bool mac_ = false;
    int finishedCode_ = 0; // non-zero: every further header read returns it

    ExtractedItems extracted_;
    std::unique_ptr<rar29::Decoder> rar29_;
    bool rar29Owed_ = false; // the current entry belongs to a solid stream and is not decoded yet
    std::unique_ptr<decode::Rar5Decoder> rar5_;
    std::unique_ptr<decode::OutputPipeline> pipeline_;
    bool currentDecoded_ = false; // the decoder went through the current entry
    std::vector<unsigned char> buffer_;
};

} // namespace unrar
