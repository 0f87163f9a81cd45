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

int TRAR::readNextHeader()
{
    const int code = dll_.RARReadHeaderEx(ArchiveHandle, &hdrData);
    rethrowPending();
    return code;
}

int TRAR::processEntry(int operation, char* destPath, char* destName)
{
    const int code = dll_.RARProcessFile(ArchiveHandle, operation, destPath, destName);
    rethrowPending();
    return code;
}

bool TRAR::listEntries()
{
    bool result = true;
    int code = 0;
    while (code == 0 && result) {
        code = readNextHeader();
        if (code == ERAR_END_ARCHIVE)
            break;
        if (code != 0)
            result = false;
        Error(code, roListFiles);
        ProgressHeader();
        code = processEntry(RAR_SKIP, nullptr, nullptr);
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
        code = readNextHeader();
        if (code == ERAR_END_ARCHIVE)
            break;
        if (code != 0) {
            result = false;
            Error(code, roListFiles);
        }
        startEntryProgress();
        code = processEntry(RAR_TEST, nullptr, nullptr);
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
        code = readNextHeader();
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
            code = processEntry(RAR_SKIP, nullptr, nullptr);
        } else if (!RestoreFolder && !folderEntry && !isPlainFileName(lastComponent)) {
            // The library writes a given file name as it stands, without the
            // path checks it makes for stored names; a name like ".." would
            // leave the folder, so such an entry is refused.
            code = processEntry(RAR_SKIP, nullptr, nullptr);
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
                    code = processEntry(RAR_EXTRACT, folder.data(), nullptr);
                } else if (!folderEntry) {
                    std::string destination = target;
                    code = processEntry(RAR_EXTRACT, nullptr, destination.data());
                }
                break;
            case rrSkip:
                code = processEntry(RAR_SKIP, folder.data(), nullptr);
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
