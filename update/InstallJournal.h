#pragma once
// The journal of one install: every change it is about to make to the
// program folder, written to the disk before the first of them, and the mark
// that all of them are done and on the disk. From it an interrupted install
// is undone (no mark) or finished (mark).
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct JournalEntry {
    enum class Kind {
        Folder,  // a folder the install creates
        Replace, // a file whose old version goes to the backup first
        Add,     // a file where there was none
    };
    Kind kind;
    std::filesystem::path relative; // below the program folder
    bool operator==(const JournalEntry&) const = default;
};

struct JournalContents {
    std::vector<JournalEntry> entries;
    bool committed = false;
};

class InstallJournal {
public:
    explicit InstallJournal(std::filesystem::path file) : file_(std::move(file)) {}

    // Writes the entries under a temporary name, brings it to the disk and
    // renames it into place, so that a journal is either whole or absent.
    // Throws std::system_error.
    void write(const std::vector<JournalEntry>& entries) const;
    // Appends the commit mark and brings it to the disk. Throws std::system_error.
    void markCommitted() const;
    // Nothing when there is no journal. Throws std::runtime_error when the
    // file is not a journal.
    std::optional<JournalContents> read() const;
    // Deletes the journal durably; no journal is no error.
    void remove() const;

private:
    std::filesystem::path file_;
};
