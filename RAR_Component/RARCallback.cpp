// Accounting of listed headers and the answers to the library's callback.
#include "RAR.h"

#include "DateTimeValue.h"
#include "HeaderText.h"

#include "platform/FileOps.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

std::u16string hostSystemName(unsigned hostOS)
{
    switch (hostOS) {
    case 0: return u"DOS";
    case 1: return u"IBM OS/2";
    case 2: return u"Windows";
    case 3: return u"Unix";
    default: return u"unknown";
    }
}

std::u16string crcText(unsigned crc)
{
    char text[9];
    std::snprintf(text, sizeof text, "%X", crc);
    return platform::toUtf16(text);
}

// Dictionary size in bytes: from DictSize (kilobytes), which libraries of
// interface version 5 and later fill, else from the older flag bits 0x00E0.
std::int64_t dictionaryBytes(const RARHeaderDataEx& header, std::int64_t previous)
{
    if (header.DictSize != 0)
        return static_cast<std::int64_t>(header.DictSize) * 1024;
    const unsigned code = (header.Flags >> 5) & 7;
    return code < 7 ? std::int64_t{65536} << code : previous;
}

// Copies `text` and its terminating zero into a buffer of `capacity` bytes, cut to fit.
void writeZeroTerminated(char* buffer, std::size_t capacity, const std::string& text)
{
    if (buffer == nullptr || capacity == 0)
        return;
    const std::size_t length = std::min(text.size(), capacity - 1);
    std::memmove(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace

void TRAR::ProgressHeader()
{
    TRARArchiveInformation& info = *fArchiveInformation;
    const unsigned flags = hdrData.Flags;

    if (fReadMVToEnd) {
        const bool before = flags & RHDF_SPLITBEFORE;
        const bool after = flags & RHDF_SPLITAFTER;
        if (!before && after) {
            fPackedSizeMVVolume = hdrData.PackSize;
        } else if (before && after) {
            fPackedSizeMVVolume += hdrData.PackSize;
            return;
        } else if (before && !after) {
            hdrData.PackSize += fPackedSizeMVVolume;
        }
        if (after)
            return;
    }

    if (info.fArchiverMajorVersion * 10 + info.fArchiverMinorVersion < hdrData.UnpVer) {
        info.fArchiverMinorVersion = hdrData.UnpVer % 10;
        info.fArchiverMajorVersion = (hdrData.UnpVer - info.fArchiverMinorVersion) / 10;
    }
    if (flags & RHDF_ENCRYPTED)
        info.fEncryption = true;
    if (flags & RHDF_SOLID)
        info.fSolid = true;
    info.fHostOS = hostSystemName(hdrData.HostOS);
    if (!isFolderEntry(hdrData)) {
        ++info.fTotalFiles;
        info.fDictionarySize = dictionaryBytes(hdrData, info.fDictionarySize);
    }
    info.fCompressedSize += hdrData.PackSize;
    info.fUnCompressedSize += hdrData.UnpSize;
    // Saturating: headers that claim absurd sizes must not wrap round to a small total.
    const std::uint64_t unpacked = std::uint64_t{hdrData.UnpSizeHigh} << 32 | hdrData.UnpSize;
    info.fUnpackedBytes += std::min(unpacked, UINT64_MAX - info.fUnpackedBytes);
    if (flags & (RHDF_SPLITBEFORE | RHDF_SPLITAFTER))
        info.fMultiVolume = true;
    if (hdrData.CmtSize > 0)
        info.fFileComment = true;

    if (!OnListFile)
        return;
    TRARFileItem item;
    item.FileName = boundedText(hdrData.FileName, sizeof hdrData.FileName);
    item.FileNameW = boundedWideText(hdrData.FileNameW, sizeof hdrData.FileNameW / sizeof(wchar_t));
    item.CompressedSize = hdrData.PackSize;
    item.UnCompressedSize = hdrData.UnpSize;
    item.HostOS = info.fHostOS;
    item.CRC32 = crcText(hdrData.FileCRC);
    item.Attributes = hdrData.FileAttr;
    // The component gives the library no buffer for entry comments.
    char* entryComment = hdrData.CmtBuf;
    item.Comment = boundedText(entryComment, entryComment ? hdrData.CmtBufSize : 0);
    item.Time = dosDateTimeToValue(hdrData.FileTime);
    item.CompressionStrength = hdrData.Method;
    item.ArchiverVersion = hdrData.UnpVer;
    item.Encrypted = flags & RHDF_ENCRYPTED;
    OnListFile(*this, item);
}

int RAR_CALLBACK UnRarCallBack(unsigned int msg, RAR_LPARAM UserData, RAR_LPARAM P1, RAR_LPARAM P2)
{
    return reinterpret_cast<TRAR*>(UserData)->OnUnRarCallBack(msg, UserData, P1, P2);
}

int TRAR::OnUnRarCallBack(unsigned int msg, RAR_LPARAM, RAR_LPARAM P1, RAR_LPARAM P2) noexcept
{
    // The library's frames are C: an exception must not unwind through them.
    // It is kept and thrown again once the library call has returned.
    if (pendingException_)
        return -1;
    try {
        const int answer = answerCallBack(msg, P1, P2);
        return fAbort ? -1 : answer;
    } catch (...) {
        pendingException_ = std::current_exception();
        return -1;
    }
}

int TRAR::answerCallBack(unsigned int msg, RAR_LPARAM P1, RAR_LPARAM P2)
{
    bool Cancel = false;
    switch (msg) {
    case UCM_CHANGEVOLUME: return answerChangeVolume(reinterpret_cast<char*>(P1), P2, Cancel);
    case UCM_PROCESSDATA: answerProcessData(P2); return 0;
    case UCM_NEEDPASSWORD: answerPassword(reinterpret_cast<char*>(P1), P2, Cancel); return Cancel ? -1 : 0;
    default: return 0;
    }
}

int TRAR::answerChangeVolume(char* name, RAR_LPARAM mode, bool& Cancel)
{
    if (mode != RAR_VOL_ASK)
        return 0;
    // The listing inside OpenFile follows volumes only when told to read to the end.
    if (!fArchiveInformation->fOpened && !fReadMVToEnd)
        return -1;
    const std::string required = boundedText(name, RAR_VOLUME_NAME_BUFFER);
    std::string newName = required;
    if (OnNextVolumeRequired) {
        newName.clear();
        OnNextVolumeRequired(*this, required, newName, Cancel);
    } else if (!platform::isExistingFile(required)) {
        // Nobody can supply the volume; going on would make the library ask again forever.
        Cancel = true;
    }
    writeZeroTerminated(name, RAR_VOLUME_NAME_BUFFER, newName);
    return Cancel ? -1 : 0;
}

void TRAR::answerProcessData(RAR_LPARAM size)
{
    const auto bytes = static_cast<std::uint32_t>(size);
    // The counters are 32-bit and wrap like the library's low size words.
    fProgressInfo.FileBytesDone =
        static_cast<std::int32_t>(static_cast<std::uint32_t>(fProgressInfo.FileBytesDone) + bytes);
    fProgressInfo.TotalSize = static_cast<std::int32_t>(static_cast<std::uint32_t>(fProgressInfo.TotalSize) + bytes);
    if (OnProgress) {
        OnProgress(*this, fProgressInfo.FileName, static_cast<std::uint32_t>(fArchiveInformation->fUnCompressedSize),
                   static_cast<std::uint32_t>(fProgressInfo.TotalSize),
                   static_cast<std::uint32_t>(fProgressInfo.FileBytesTotal),
                   static_cast<std::uint32_t>(fProgressInfo.FileBytesDone));
    }
}

void TRAR::answerPassword(char* buffer, RAR_LPARAM size, bool& Cancel)
{
    TRARArchiveInformation& info = *fArchiveInformation;
    std::string fileName;
    if (!info.fOpened) {
        info.fHeaderEncrypted = true;
        fileName = info.fFileName;
    } else {
        fileName = platform::utf16ToAnsi(fProgressInfo.FileName);
    }
    std::string password;
    if (OnPasswordRequired)
        OnPasswordRequired(*this, !info.fOpened, fileName, password, Cancel);
    writeZeroTerminated(buffer, size > 0 ? static_cast<std::size_t>(size) : 0, password);
}
