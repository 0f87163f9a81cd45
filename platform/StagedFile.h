#pragma once
// A file written under a temporary name beside its target and renamed over
// the target only when complete, so that a failed or interrupted write never
// leaves a half-written file where a good one stood.
#include <cstddef>
#include <cstdio>
#include <string>

namespace platform {

class StagedFile {
public:
    // Creates an empty temporary file in the target's folder, open for
    // reading too when `readable`. Throws std::system_error with the
    // system's text when it cannot.
    explicit StagedFile(const std::string& target, bool readable = false);
    // Removes the temporary file unless it was committed.
    ~StagedFile();
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    // Appends bytes; a short write (full disk) throws std::system_error.
    void write(const char* data, std::size_t size);
    // Closes the file and renames it over the target; throws on failure, and
    // the target is then left as it was.
    void commit();

    std::FILE* stream() { return file_; }
    const std::string& temporaryPath() const { return temporary_; }

private:
    void discard() noexcept;

    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    bool committed_ = false;
};

} // namespace platform
