#pragma once
// Installs a release unpacked into the update folder's staging area over the
// program folder, all of it or none of it. Every change is written to the
// journal before the first is made; each file that a new one replaces is
// first moved into the backup folder; the new files and the changed folders
// are brought to the disk before the journal is marked committed. Installing
// is renaming, so no byte of the release is written twice.
#include "update/InstallJournal.h"
#include "update/UpdateFolder.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class ReleaseInstaller {
public:
    enum class Result { Installed, Failed, Interrupted };

    explicit ReleaseInstaller(UpdateFolder folder) : folder_(std::move(folder)) {}

    // Entries of the release that are never installed over the workstation's
    // own file (relative path, '/' separated). They are left out silently
    // and listed by kept().
    std::function<bool(const std::filesystem::path& relative)> isProtected;
    // Entries that belong to the updater itself (its folder, the archive's
    // name); never installed, listed by reserved().
    std::function<bool(const std::filesystem::path& relative)> isReserved;
    // Polled before each change; true stops the install and undoes it
    // (before the commit mark; after it the install is finished).
    std::function<bool()> interrupted;
    // Told after each step that changed something on the disk ("journal",
    // "backup NAME", "move NAME", "folder NAME", "synced", "committed",
    // "backup removed", "cleaned"); tests stop the process here.
    std::function<void(std::string_view step)> onStep;

    Result install();

    // After Failed: the entry (relative path) and why.
    const std::filesystem::path& failedEntry() const { return failedEntry_; }
    const std::u16string& failureCause() const { return cause_; }
    // Protected entries the release carried and the install left alone.
    const std::vector<std::filesystem::path>& kept() const { return kept_; }
    // Files of the release that isReserved refused (folders are left out silently).
    const std::vector<std::filesystem::path>& reserved() const { return reserved_; }

    // Puts back what the journal's install changed: replaced files from the
    // backup, new files and folders removed. Repeating it is harmless.
    static void rollBack(const UpdateFolder& folder, const std::vector<JournalEntry>& entries);
    // Removes backup, staging and journal of an install that is committed
    // or undone.
    static void cleanUp(const UpdateFolder& folder);

private:
    bool plan(std::vector<JournalEntry>& entries, std::vector<std::string>& stagedFiles);
    void fail(const std::filesystem::path& entry, std::u16string cause);
    void step(const std::string& what);
    bool stopRequested() const { return interrupted && interrupted(); }
    void moveIn(const std::vector<JournalEntry>& entries);
    void syncChangedFolders(const std::vector<JournalEntry>& entries);

    UpdateFolder folder_;
    std::filesystem::path failedEntry_;
    std::u16string cause_;
    std::vector<std::filesystem::path> kept_;
    std::vector<std::filesystem::path> reserved_;
};

// What the user is told of the release's files that `installer` left out:
// the workstation's own files and names the updater keeps for itself.
std::vector<std::u16string> skippedFileNotes(const ReleaseInstaller& installer);
