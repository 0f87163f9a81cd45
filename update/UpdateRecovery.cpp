#include "UpdateRecovery.h"

#include "platform/FolderTree.h"
#include "update/FetchedArchiveMark.h"
#include "update/InstallJournal.h"
#include "update/ReleaseInstaller.h"
#include "update/UpdateRun.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A download's temporary file: the archive name with a random suffix; in
// the update folder also a record's.
bool isPartialDownload(const std::string& name, bool inUpdateFolder)
{
    if (inUpdateFolder)
        return startsWith(name, ".") && name.find(".part-") != std::string::npos;
    return startsWith(name, std::string(".") + kLocalArchiveName + ".part-");
}

// A file the UnRAR library was writing when the process ended.
bool isPartialEntry(const std::string& name) { return startsWith(name, ".unrar-") && endsWith(name, ".tmp"); }

void removePartialDownloads(const fs::path& folder, bool updateFolder = false)
{
    std::error_code ec;
    for (const platform::FolderEntry& entry : platform::folderEntries(folder, ec)) {
        std::error_code ignored;
        if (isPartialDownload(entry.path.filename().string(), updateFolder) && fs::is_regular_file(entry.path, ignored))
            fs::remove(entry.path, ignored);
    }
}

// Earlier versions unpacked straight into the program folder and its
// sub-folders; links are not followed, the update folder is not entered.
void removePartialEntries(const UpdateFolder& folder)
{
    std::error_code unread; // a folder that cannot be read holds nothing to remove
    const auto tree =
        platform::folderTree(folder.program, unread, [&folder](const fs::path& path) { return path == folder.root; });
    for (const platform::FolderEntry& entry : tree) {
        std::error_code ignored;
        if (!entry.folder && isPartialEntry(entry.path.filename().string()) && fs::is_regular_file(entry.path, ignored))
            fs::remove(entry.path, ignored);
    }
}

} // namespace

RecoveryOutcome recoverInterruptedUpdate(const UpdateFolder& folder, const fs::path& currentDirectory)
{
    RecoveryOutcome outcome = RecoveryOutcome::NothingToDo;
    if (const auto journal = InstallJournal(folder.journal()).read()) {
        if (journal->committed) {
            ReleaseInstaller::cleanUp(folder);
            outcome = RecoveryOutcome::Completed;
        } else {
            ReleaseInstaller::rollBack(folder, journal->entries);
            outcome = RecoveryOutcome::RolledBack;
        }
    } else {
        // Without a journal nothing was moved: staging and backup are leftovers.
        ReleaseInstaller::cleanUp(folder);
    }
    removeArchiveOfKilledRun(folder);
    // The .zck of a release whose install did not end; the kept one stays the base.
    std::error_code ignored;
    fs::remove(folder.pendingZck(), ignored);
    removePartialDownloads(folder.program);
    removePartialDownloads(folder.root, true); // records being written
    std::error_code ec;
    if (fs::equivalent(platform::plainPath(currentDirectory), platform::plainPath(folder.program), ec))
        removePartialDownloads(currentDirectory);
    removePartialEntries(folder);
    return outcome;
}

std::u16string recoveryMessage(RecoveryOutcome outcome)
{
    switch (outcome) {
    case RecoveryOutcome::NothingToDo: break;
    case RecoveryOutcome::RolledBack: return u"Прерванное обновление отменено: восстановлены прежние файлы программы.";
    case RecoveryOutcome::Completed: return u"Прерванное обновление завершено: установлены файлы новой версии.";
    }
    return {};
}
