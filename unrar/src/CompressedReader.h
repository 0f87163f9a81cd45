#pragma once
// Decompression of packed entries through libarchive, which reads the
// volume set in its own pass; entries are matched by their position and
// name, so both passes must agree on what they see.
#include <cstdint>
#include <string>
#include <vector>

struct archive;

namespace unrar {

class CompressedReader {
public:
    CompressedReader() = default;
    ~CompressedReader();
    CompressedReader(const CompressedReader&) = delete;
    CompressedReader& operator=(const CompressedReader&) = delete;

    bool open(const std::vector<std::string>& volumes);
    // Moves to the entry at `ordinal` (0-based) and checks its name. Returns an ERAR_* code.
    int seek(uint64_t ordinal, const std::string& name);
    // Next block of the entry's data; false at the end or on error (see failed()).
    bool nextBlock(const void*& data, size_t& size);
    bool failed() const { return failed_; }
    uint64_t nextOrdinal() const { return next_; }
    size_t volumeCount() const { return volumes_; }

private:
    struct archive* a_ = nullptr;
    uint64_t next_ = 0;   // ordinal of the next header libarchive will return
    uint64_t offset_ = 0; // expected offset of the next data block
    size_t volumes_ = 0;
    bool failed_ = false;
};

struct Entry;

// Decodes the packed data of a service header (the archive comment) by
// handing libarchive a one-entry archive built around it.
bool unpackServiceData(bool rar5, const Entry& service, const std::string& packed, std::string& out);
// The same for RAR 5.0 with our own decoder (ArchiveDecode.cpp).
bool unpackRar5ServiceData(const Entry& service, const std::string& packed, std::string& out);

}  // namespace unrar
