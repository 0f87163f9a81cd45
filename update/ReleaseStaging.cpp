#include "update/ReleaseStaging.h"

#include "platform/DiskSpace.h"
#include "platform/Durability.h"
#include "platform/FileModes.h"
#include "platform/FileOps.h"
#include "platform/FolderTree.h"
#include "platform/SharedFolder.h"
#include "platform/TextCodec.h"
#include "update/FailureCause.h"
#include "update/ReleaseInstaller.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Why the library stopped at an entry of the release.
std::u16string unpackingCause(int code, const fs::path& folder)
{
    switch (code) {
    case ERAR_EWRITE:
    case ERAR_ECLOSE:
    case ERAR_ECREATE: {
        // The library does not pass the system's reason on; a disk without
        // room left is the common one and can be seen afterwards.
        const auto left = platform::freeBytes(platform::fromPath(folder));
        if (left && *left < (1u << 20))
            return kNoSpaceCause;
        const auto entriesLeft = platform::freeFileEntries(platform::fromPath(folder));
        if (entriesLeft && *entriesLeft == 0)
            return kNoFileEntriesCause;
        return code == ERAR_ECREATE ? kRefusedName : u"ошибка записи файла";
    }
    case ERAR_BAD_DATA: return u"данные архива повреждены";
    default: return u"ошибка распаковки (код " + platform::toUtf16(std::to_string(code)) + u")";
    }
}

// Megabytes of `bytes` for messages, rounded up.
std::u16string megabytes(std::uint64_t bytes)
{
    // Rounded up, without overflow for the largest sizes a header may claim.
    return platform::toUtf16(std::to_string((bytes >> 20) + ((bytes & ((1u << 20) - 1)) != 0)));
}

} // namespace

std::u16string openingFailure(const TRAR& rar, const std::u16string& shownArchive)
{
    if (!rar.isDLLLoaded())
        return u"Библиотека UnRAR " + platform::ansiToUtf16(rar.DllName()) + u" не загружается (" +
               platform::ansiToUtf16(rar.LoadError()) + u"), архив " + shownArchive +
               u" не открыт. Восстановите библиотеку в папке программы.";
    return u"Ошибка при открытии архива " + shownArchive;
}

ReleaseStaging::~ReleaseStaging()
{
    std::error_code ignored;
    if (!fs::exists(folder_.journal(), ignored))
        ReleaseInstaller::cleanUp(folder_);
}

void noteEntryMode(EntryModes& modes, const TRARFileItem& item)
{
    // Only Unix entries carry a mode; the attributes of the others are
    // Windows' (read-only, hidden, archive), which say nothing of it.
    std::optional<unsigned> mode;
    if (item.HostOS == u"Unix")
        mode = item.Attributes;
    modes[item.FileNameW] = mode;
}

std::optional<std::u16string> ReleaseStaging::unpack(const platform::PinnedFile& pinned, const EntryModes& modes)
{
    // Until it is moved in by renames the whole release lies in the staging
    // area, beside the files it replaces.
    const std::uint64_t needed = rar_.ArchiveInformation().UnpackedBytes();
    const auto left = platform::freeBytes(platform::fromPath(folder_.program));
    if (left && *left < needed)
        return std::u16string(kNoSpaceCause) + u" (нужно " + megabytes(needed) + u" МБ, свободно " + megabytes(*left) +
               u" МБ)";

    std::error_code ec;
    platform::removeTree(folder_.staging(), ec);
    platform::createSharedFolders(folder_.staging(), ec);
    if (ec)
        return platform::displayPath(folder_.staging()) + u": " + failureCause(ec);

    int failedCode = 0;
    std::u16string failedEntry;
    rar_.OnError = [&](TRAR& rar, std::int32_t code, TRAROperation) {
        if (failedCode == 0) {
            failedCode = code;
            failedEntry = rar.CurrentFileName();
        }
    };
    bool extracted = false;
    try {
        current_.clear();
        files_.clear();
        const std::string stagingFolder = platform::fromPath(folder_.staging() / "");
        extracted = rar_.Extract(platform::charToOem(stagingFolder), true, nullptr);
    } catch (...) {
        rar_.OnError = nullptr;
        throw;
    }
    rar_.OnError = nullptr;

    if (!pinned.unchanged())
        return kArchiveChanged;
    if (!extracted)
        return (failedEntry.empty() ? u"" : failedEntry + u": ") + unpackingCause(failedCode, folder_.staging());
    // A library that reports success must also have put the data where it
    // was asked to; else the install would go on with files missing.
    if (const auto missing = missingFile())
        return *missing + u": " + kNotInStaging;
    // Before the self-check, which runs the staged updaters.
    return setPermissions(modes);
}

std::optional<std::u16string> ReleaseStaging::setPermissions(const EntryModes& modes) const
{
    // The library's own handling of modes differs (the genuine one sets a
    // Unix entry's mode as stored, even 000, past the umask); the release's
    // files get theirs here, whichever library unpacked them.
    const unsigned mask = platform::creationMask();
    const fs::path staging = platform::plainPath(folder_.staging());
    for (const auto& [entry, mode] : modes) {
        const fs::path staged = stagedPath(entry);
        std::error_code ec;
        if (!fs::is_regular_file(fs::symlink_status(staged, ec)))
            continue; // folders are made afresh by the install; links are not installed
        const fs::path relative = platform::plainPath(staged).lexically_relative(staging);
        if (relative.empty() || *relative.begin() == "..")
            continue;
        unsigned bits = 0666u & ~mask;
        if (mode) {
            bits = *mode & 0777u & ~mask;
        } else if (const auto kept = platform::permissionBits(platform::fromPath(folder_.program / relative))) {
            // A release made on Windows says nothing of modes: the file it
            // replaces keeps its own, so that a program stays executable.
            bits = *kept;
        }
        if (const std::error_code failed = platform::setPermissionBits(platform::fromPath(staged), bits))
            return platform::ansiToUtf16(relative.generic_string()) + u": " + failureCause(failed);
    }
    return std::nullopt;
}

void ReleaseStaging::fileStarted(const std::u16string& entryName)
{
    if (entryName == current_)
        return;
    // The file before is complete: its data starts for the disk while the
    // next one is unpacked, so that the flush before the install finds
    // little left to write.
    if (!current_.empty())
        platform::startWriting(platform::fromPath(stagedPath(current_)));
    current_ = entryName;
    files_.push_back(entryName);
}

fs::path ReleaseStaging::stagedPath(const std::u16string& entryName) const
{
    std::u16string relative = entryName;
    std::replace(relative.begin(), relative.end(), u'\\', u'/');
    return folder_.staging() / platform::toPath(platform::utf16ToAnsi(relative));
}

std::optional<std::u16string> ReleaseStaging::missingFile() const
{
    for (const std::u16string& name : files_) {
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(stagedPath(name), ec)))
            return name;
    }
    return std::nullopt;
}
