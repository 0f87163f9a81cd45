#include "ReleaseInstaller.h"

#include "platform/Durability.h"
#include "platform/FileOps.h"
#include "platform/FolderTree.h"
#include "platform/SharedFolder.h"
#include "platform/TextCodec.h"
#include "update/FailureCause.h"

#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool isPresent(const fs::path& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// Brings the folders to the disk; the deepest first, so that a folder's own
// entry is synced after what it holds.
void syncFolders(const std::set<fs::path>& folders)
{
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        if (isPresent(*it))
            platform::syncFolder(platform::fromPath(*it));
    }
}

// Thrown inside an install to stop it; the install is then undone.
struct Stop {};

} // namespace

void ReleaseInstaller::fail(const fs::path& entry, std::u16string cause)
{
    failedEntry_ = entry;
    cause_ = std::move(cause);
}

void ReleaseInstaller::step(const std::string& what)
{
    if (onStep)
        onStep(what);
}

bool ReleaseInstaller::plan(std::vector<JournalEntry>& entries, std::vector<std::string>& stagedFiles)
{
    const fs::path staging = folder_.staging();
    // Sorted, so that every folder comes before what it holds.
    std::set<fs::path> found;
    std::error_code unread;
    for (const platform::FolderEntry& entry : platform::folderTree(staging, unread))
        found.insert(platform::plainPath(entry.path).lexically_relative(platform::plainPath(staging)));
    if (unread)
        throw std::system_error(unread, "cannot list " + platform::fromPath(staging));

    std::set<fs::path> newFolders;
    for (const fs::path& relative : found) {
        const fs::path source = staging / relative;
        const fs::path target = folder_.program / relative;
        std::error_code ec;
        const fs::file_status sourceStatus = fs::symlink_status(source, ec);
        const fs::file_status targetStatus = fs::symlink_status(target, ec);
        const bool underNewFolder = newFolders.count(relative.parent_path()) > 0;
        if (isReserved && isReserved(relative)) {
            if (!fs::is_directory(sourceStatus))
                reserved_.push_back(relative);
            continue;
        }

        if (fs::is_directory(sourceStatus)) {
            if (underNewFolder || !fs::exists(targetStatus)) {
                newFolders.insert(relative);
                entries.push_back({JournalEntry::Kind::Folder, relative});
            } else if (!fs::is_directory(targetStatus)) {
                // A link counts as a file here: the release is never written through it.
                fail(relative, kFileInFolderPlace);
                return false;
            }
            continue;
        }
        if (!fs::is_regular_file(sourceStatus))
            continue;
        if (isProtected && isProtected(relative)) {
            kept_.push_back(relative);
            continue;
        }
        if (underNewFolder || !fs::exists(targetStatus)) {
            entries.push_back({JournalEntry::Kind::Add, relative});
        } else if (fs::is_directory(targetStatus)) {
            fail(relative, kFolderInFilePlace);
            return false;
        } else {
            entries.push_back({JournalEntry::Kind::Replace, relative});
        }
        stagedFiles.push_back(platform::fromPath(source));
    }
    return true;
}

void ReleaseInstaller::moveIn(const std::vector<JournalEntry>& entries)
{
    for (const JournalEntry& e : entries) {
        if (stopRequested())
            throw Stop{};
        const fs::path target = folder_.program / e.relative;
        try {
            switch (e.kind) {
            case JournalEntry::Kind::Folder:
                fs::create_directory(target);
                platform::shareWithFolder(target);
                step("folder " + e.relative.generic_string());
                break;
            case JournalEntry::Kind::Replace: {
                const fs::path aside = folder_.backup() / e.relative;
                std::error_code ec;
                platform::createSharedFolders(aside.parent_path(), ec);
                if (ec)
                    throw std::system_error(ec);
                fs::rename(target, aside);
                step("backup " + e.relative.generic_string());
                fs::rename(folder_.staging() / e.relative, target);
                step("move " + e.relative.generic_string());
                break;
            }
            case JournalEntry::Kind::Add:
                fs::rename(folder_.staging() / e.relative, target);
                step("move " + e.relative.generic_string());
                break;
            }
        } catch (const std::system_error& error) {
            fail(e.relative, ::failureCause(error.code()));
            throw;
        }
    }
}

void ReleaseInstaller::syncChangedFolders(const std::vector<JournalEntry>& entries)
{
    std::set<fs::path> folders{folder_.program};
    for (const JournalEntry& e : entries) {
        folders.insert((folder_.program / e.relative).parent_path());
        if (e.kind == JournalEntry::Kind::Folder)
            folders.insert(folder_.program / e.relative);
        if (e.kind == JournalEntry::Kind::Replace)
            folders.insert((folder_.backup() / e.relative).parent_path());
    }
    syncFolders(folders);
}

ReleaseInstaller::Result ReleaseInstaller::install()
{
    std::vector<JournalEntry> entries;
    std::vector<std::string> stagedFiles;
    try {
        if (!plan(entries, stagedFiles))
            return Result::Failed;
        if (stopRequested())
            return Result::Interrupted;
        // The new files reach the disk before anything refers to them.
        platform::syncFiles(stagedFiles);
    } catch (const std::system_error& error) {
        fail({}, ::failureCause(error.code()));
        return Result::Failed;
    }

    const InstallJournal journal(folder_.journal());
    bool marking = false;
    try {
        journal.write(entries);
        step("journal");
        moveIn(entries);
        syncChangedFolders(entries);
        step("synced");
        marking = true;
        journal.markCommitted();
        step("committed");
    } catch (const Stop&) {
        rollBack(folder_, entries);
        return Result::Interrupted;
    } catch (const std::system_error& error) {
        if (cause_.empty())
            fail({}, ::failureCause(error.code()));
        // The mark may have reached the disk although writing it failed; a
        // crash while undoing would then be finished as committed, half undone.
        // A journal without the mark replaces it first (or, failing that, the
        // next start decides by whichever journal is on the disk: both lead to
        // a whole release).
        if (marking)
            journal.write(entries);
        rollBack(folder_, entries);
        return Result::Failed;
    }
    // Committed: from here on the new release stands, whatever happens.
    std::error_code ec;
    platform::removeTree(folder_.backup(), ec);
    step("backup removed");
    cleanUp(folder_);
    step("cleaned");
    return Result::Installed;
}

void ReleaseInstaller::rollBack(const UpdateFolder& folder, const std::vector<JournalEntry>& entries)
{
    std::set<fs::path> touched{folder.program};
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const fs::path target = folder.program / it->relative;
        std::error_code ec;
        switch (it->kind) {
        case JournalEntry::Kind::Replace: {
            const fs::path aside = folder.backup() / it->relative;
            if (isPresent(aside))
                fs::rename(aside, target);
            break;
        }
        case JournalEntry::Kind::Add: fs::remove(target, ec); break;
        case JournalEntry::Kind::Folder:
            fs::remove(target, ec); // only when empty: nothing of the user's goes
            break;
        }
        touched.insert(target.parent_path());
    }
    // The old state is on the disk before the journal that leads back to it goes.
    syncFolders(touched);
    cleanUp(folder);
}

void ReleaseInstaller::cleanUp(const UpdateFolder& folder)
{
    std::error_code ec;
    platform::removeTree(folder.backup(), ec);
    platform::removeTree(folder.staging(), ec);
    InstallJournal(folder.journal()).remove();
}

std::vector<std::u16string> skippedFileNotes(const ReleaseInstaller& installer)
{
    std::vector<std::u16string> notes;
    for (const fs::path& kept : installer.kept())
        notes.push_back(u"Файл " + platform::ansiToUtf16(kept.generic_string()) +
                        u" из обновления не установлен: оставлен файл рабочего места.");
    for (const fs::path& reserved : installer.reserved())
        notes.push_back(u"Файл " + platform::ansiToUtf16(reserved.generic_string()) +
                        u" из обновления не установлен: это имя занято программой обновления.");
    return notes;
}
