// The entry loops of List, Test and Extract, run inside TRAR::walk.
#include "RAR.h"

#include "DateTimeValue.h"
#include "EntryNames.h"
#include "HeaderText.h"

#include "platform/FileOps.h"
#include "platform/TextCodec.h"

namespace {

std::int32_t asInt32(std::uint32_t value) { return static_cast<std::int32_t>(value); }

} // namespace

bool extractFile(const std::u16string& FileName, const std::vector<std::string>* Files)
{
    if (Files == nullptr)
        return true;
    for (const std::string& line : *Files) {
        if (platform::ansiToUtf16(line) == FileName)
            return true;
    }
    return false;
}

bool TRAR::listEntries()
{
    bool result = true;
    int code = 0;
    while (code == 0 && result) {
        code = dll_.RARReadHeaderEx(ArchiveHandle, &hdrData);
        rethrowPending();
        if (code == ERAR_END_ARCHIVE)
            break;
        if (code != 0)
            result = false;
        Error(code, roListFiles);
        ProgressHeader();
        code = dll_.RARProcessFile(ArchiveHandle, RAR_SKIP, nullptr, nullptr);
        rethrowPending();
        if (code != 0)
            result = false;
        Error(code, roListFiles);
    }
    return result;
}

void TRAR::startEntryProgress()
{
    fProgressInfo.FileBytesDone = 0;
    fProgressInfo.FileBytesTotal = asInt32(hdrData.UnpSize);
    fProgressInfo.FileName = boundedWideText(hdrData.FileNameW, sizeof hdrData.FileNameW / sizeof(wchar_t));
}

bool TRAR::testEntries()
{
    bool result = true;
    int code = 0;
    fProgressInfo.TotalSize = 0;
    while (code == 0 && result) {
        code = dll_.RARReadHeaderEx(ArchiveHandle, &hdrData);
        rethrowPending();
        if (code == ERAR_END_ARCHIVE)
            break;
        if (code != 0) {
            result = false;
            Error(code, roListFiles);
        }
        startEntryProgress();
        code = dll_.RARProcessFile(ArchiveHandle, RAR_TEST, nullptr, nullptr);
        rethrowPending();
        if (code != 0) {
            result = false;
            Error(code, roListFiles);
        }
        if (fAbort)
            result = false;
    }
    return result;
}

bool TRAR::extractEntries(const std::string& Path, bool RestoreFolder, const std::vector<std::string>* Files)
{
    // An empty folder would become the file system's root once the separator is added.
    std::string folder = Path.empty() ? std::string(".") : Path;
    if (folder.back() != pathSeparator())
        folder += pathSeparator();

    bool result = true;
    int code = 0;
    fProgressInfo.TotalSize = 0;
    while (code == 0 && result) {
        code = dll_.RARReadHeaderEx(ArchiveHandle, &hdrData);
        rethrowPending();
        if (code == ERAR_END_ARCHIVE)
            break;
        if (code != 0) {
            // The record does not describe a readable entry (it may still hold
            // the previous one), so nothing is written from it.
            Error(code, roListFiles);
            return false;
        }
        startEntryProgress();

        TRARReplace Action = rrOverwrite;
        const std::string name = boundedText(hdrData.FileName, sizeof hdrData.FileName);
        const std::u16string wideName = platform::ansiToUtf16(name);
        const bool folderEntry = isFolderEntry(hdrData);
        const std::u16string lastComponent = lastNameComponent(wideName);

        if (!extractFile(wideName, Files)) {
            code = dll_.RARProcessFile(ArchiveHandle, RAR_SKIP, nullptr, nullptr);
            rethrowPending();
        } else if (!RestoreFolder && !folderEntry && !isPlainFileName(lastComponent)) {
            // The library writes a given file name as it stands, without the
            // path checks it makes for stored names; a name like ".." would
            // leave the folder, so such an entry is refused.
            code = dll_.RARProcessFile(ArchiveHandle, RAR_SKIP, nullptr, nullptr);
            rethrowPending();
            if (code == 0)
                code = ERAR_ECREATE;
        } else {
            const std::string target =
                RestoreFolder ? folder + name : platform::utf16ToAnsi(platform::ansiToUtf16(folder) + lastComponent);
            const std::u16string wideTarget = platform::ansiToUtf16(target);
            TRARReplaceData ExistingData{target, RAR_DLL::GetFileSize(wideTarget),
                                         RAR_DLL::GetFileModifyDate(wideTarget)};
            TRARReplaceData NewData{RestoreFolder ? name : platform::utf16ToAnsi(lastComponent),
                                    static_cast<std::int64_t>(hdrData.UnpSize), dosDateTimeToValue(hdrData.FileTime)};
            if (OnReplace && platform::isExistingFile(target))
                OnReplace(*this, ExistingData, NewData, Action);

            switch (Action) {
            case rrCancel: fAbort = true; break;
            case rrOverwrite:
                if (RestoreFolder) {
                    code = dll_.RARProcessFile(ArchiveHandle, RAR_EXTRACT, folder.data(), nullptr);
                    rethrowPending();
                } else if (!folderEntry) {
                    std::string destination = target;
                    code = dll_.RARProcessFile(ArchiveHandle, RAR_EXTRACT, nullptr, destination.data());
                    rethrowPending();
                }
                break;
            case rrSkip:
                code = dll_.RARProcessFile(ArchiveHandle, RAR_SKIP, folder.data(), nullptr);
                rethrowPending();
                fProgressInfo.FileBytesDone =
                    asInt32(static_cast<std::uint32_t>(fProgressInfo.FileBytesDone) + hdrData.UnpSize);
                break;
            }
        }
        if (code != 0) {
            result = false;
            Error(code, roListFiles);
        }
        if (fAbort)
            result = false;
    }
    return result;
}
