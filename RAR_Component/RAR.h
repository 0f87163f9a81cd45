#pragma once
// TRAR: lists, tests and extracts RAR archives by driving the UnRAR dynamic
// library, which it loads at run time (see RAR_DLL.h).
//
// Usage, all on one thread:
//     TRAR rar(messages);                       // DllName() is the platform's library name
//     if (rar.OpenFile(u"/path/NewExe.zip")     // loads the library, lists the archive
//         && rar.Test()                         // tests every entry
//         && rar.Extract("/prog", true, nullptr)) { ... }   // keeps stored folders
//
// Every failure reported by the library reaches OnError (when assigned) and
// makes the operation return false. The only exception of the component's
// own is EAssertionFailed, thrown when an operation starts and the archive
// file does not exist. An exception thrown by an event handler ends the
// operation: the archive is closed and the exception reaches the caller.
#include "RARArchiveInformation.h"
#include "RAR_DLL.h"

#include "platform/DynamicLibrary.h"
#include "platform/Messages.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <source_location>
#include <stdexcept>
#include <string>
#include <vector>

// The step in which a library error was met: loading the library, opening or
// closing the archive (roInitArchive), or walking its entries (roListFiles,
// whichever of List, Test and Extract is walking). roExtract and roTest are
// never reported.
enum TRAROperation { roInitArchive = 0, roListFiles = 1, roExtract = 2, roTest = 3 };

// Answer of OnReplace for a file that already exists.
enum TRARReplace { rrCancel = 0, rrOverwrite = 1, rrSkip = 2 };

struct TRARReplaceData {
    std::string FileName; // 8-bit, system code page
    std::int64_t Size = 0;
    double Time = 0; // date-time value
};

// One entry as the listing reports it to OnListFile.
struct TRARFileItem {
    std::string FileName; // 8-bit, system code page
    std::u16string FileNameW;
    std::uint32_t CompressedSize = 0; // whole file for a split file counted at its last part
    std::uint32_t UnCompressedSize = 0;
    std::u16string HostOS; // "DOS", "IBM OS/2", "Windows", "Unix" or "unknown"
    std::u16string CRC32;  // upper-case hexadecimal, no leading zeros
    std::uint32_t Attributes = 0;
    std::string Comment;
    double Time = 0;                       // stored MS-DOS time, no time-zone conversion
    std::uint32_t CompressionStrength = 0; // RAR_METHOD_* value as stored
    std::uint32_t ArchiverVersion = 0;     // version needed to extract, major * 10 + minor
    bool Encrypted = false;
};

// Progress of the current Test or Extract walk.
struct TRARProgressInfo {
    std::int32_t FileBytesDone = 0;
    std::int32_t FileBytesTotal = 0;
    std::u16string FileName;
    std::int32_t TotalSize = 0;
};

// Thrown when an operation starts and the archive file does not exist. The
// message begins "Assertion failure" and names the source location.
class EAssertionFailed : public std::logic_error {
public:
    explicit EAssertionFailed(const std::source_location& where = std::source_location::current());
};

class TRAR;

using TOnRARErrorNotifyEvent = std::function<void(TRAR& Sender, std::int32_t ErrorCode, TRAROperation Operation)>;
using TOnRARListFile = std::function<void(TRAR& Sender, const TRARFileItem& FileInformation)>;
// NewPassword is empty and Cancel false when the handler is called.
using TOnRARPasswordRequired = std::function<void(TRAR& Sender, bool HeaderPassword, const std::string& FileName,
                                                  std::string& NewPassword, bool& Cancel)>;
// newFileName is empty and Cancel false when the handler is called.
using TOnRARNextVolumeRequired =
    std::function<void(TRAR& Sender, const std::string& requiredFileName, std::string& newFileName, bool& Cancel)>;
using TOnRARProcess =
    std::function<void(TRAR& Sender, const std::u16string& FileName, std::uint32_t ArchiveBytesTotal,
                       std::uint32_t ArchiveBytesDone, std::uint32_t FileBytesTotal, std::uint32_t FileBytesDone)>;
// Action holds rrOverwrite when the handler is called.
using TOnRARReplace = std::function<void(TRAR& Sender, const TRARReplaceData& ExistingData,
                                         const TRARReplaceData& NewData, TRARReplace& Action)>;

// Handed to the library as the callback; forwards to the component whose
// address is UserData. Never lets an exception into the library.
int RAR_CALLBACK UnRarCallBack(unsigned int msg, RAR_LPARAM UserData, RAR_LPARAM P1, RAR_LPARAM P2);

// Whether an entry stored as FileName is selected by Files: every entry when
// Files is null, else only one whose stored name equals a line exactly
// (case and separators included).
bool extractFile(const std::u16string& FileName, const std::vector<std::string>* Files);

class TRAR {
public:
    // The version message box (library older than MIN_RAR_VERSION) goes to `messages`.
    explicit TRAR(platform::Messages& messages);
    ~TRAR();
    TRAR(const TRAR&) = delete;
    TRAR& operator=(const TRAR&) = delete;

    // Forgets the previous archive, loads the library when needed and lists
    // the archive once. False when the library cannot be loaded (99), refuses
    // the archive (99), or the comment or the listing fails.
    bool OpenFile(const std::u16string& FileName);
    // Walks the archive opened by OpenFile in list mode, accounting every header.
    bool List();
    // Tests every entry; true only when each tested with result 0 and nothing stopped the walk.
    bool Test();
    // Extracts the entries selected by Files (null: all) below Path, keeping
    // the stored folders when RestoreFolder is true, else writing every file
    // straight into Path. Existing files are replaced unless OnReplace says otherwise.
    bool Extract(const std::string& Path, bool RestoreFolder, const std::vector<std::string>* Files);
    // Stops the walk in progress at the library's next callback and at the end of the current entry.
    void Abort();
    // Whether the last walk was asked to stop (Abort, a serious library error, rrCancel).
    bool Aborted() const { return fAbort; }
    // Name of the entry the current or last walk is at, for telling which one failed.
    const std::u16string& CurrentFileName() const { return fProgressInfo.FileName; }

    void LoadDLL();
    void UnloadDLL();
    bool isDLLLoaded() const { return RARDLLInstance != 0; }
    // Why the last LoadDLL loaded nothing (the system's text); empty after a success.
    const std::string& LoadError() const { return fLoadError; }
    // The library's interface version, loading the library first; 0 (after
    // reporting 99) when it cannot be loaded.
    std::int32_t GetDllVersion();

    // Properties.
    std::u16string Version() const { return fVersion; }
    bool ReadMultiVolumeToEnd() const { return fReadMVToEnd; }
    void setReadMultiVolumeToEnd(bool value) { fReadMVToEnd = value; }
    const std::string& DllName() const { return fDLLName; }
    void setDllName(std::string value) { fDLLName = std::move(value); }
    const TRARArchiveInformation& ArchiveInformation() const { return *fArchiveInformation; }

    // Events, each fired only when assigned.
    TOnRARErrorNotifyEvent OnError;
    TOnRARListFile OnListFile;
    TOnRARPasswordRequired OnPasswordRequired;
    TOnRARNextVolumeRequired OnNextVolumeRequired;
    TOnRARProcess OnProgress;
    TOnRARReplace OnReplace;

private:
    friend int RAR_CALLBACK UnRarCallBack(unsigned int, RAR_LPARAM, RAR_LPARAM, RAR_LPARAM);

    static constexpr const char16_t* fVersion = u"1.2";

    bool InitArchive(bool Extract);
    bool CloseArchive();
    void Error(std::int32_t ErrorCode, TRAROperation Operation);
    void ProgressHeader();
    int OnUnRarCallBack(unsigned int msg, RAR_LPARAM UserData, RAR_LPARAM P1, RAR_LPARAM P2) noexcept;
    int answerCallBack(unsigned int msg, RAR_LPARAM P1, RAR_LPARAM P2);
    int answerChangeVolume(char* name, RAR_LPARAM mode, bool& Cancel);
    void answerPassword(char* buffer, RAR_LPARAM size, bool& Cancel);
    void answerProcessData(RAR_LPARAM size);

    // The frame shared by List, Test and Extract: checks the file, opens the
    // archive, installs the callback, runs `entries` and always closes again.
    bool walk(bool extractMode, const std::function<bool()>& entries);
    bool listEntries();
    bool testEntries();
    // Progress of the entry whose header was just read.
    void startEntryProgress();
    bool extractEntries(const std::string& Path, bool RestoreFolder, const std::vector<std::string>* Files);
    // An exception caught inside the callback is thrown here, once the library call has returned.
    void rethrowPending();
    // The library's calls of the entry loops: the next header into hdrData,
    // and the entry it describes processed. Each returns the library's code,
    // or throws what the callback caught during the call.
    int readNextHeader();
    int processEntry(int operation, char* destPath, char* destName);

    platform::ModuleHandle RARDLLInstance = 0;
    // The entry points of this component's own library; empty while none is loaded.
    RAR_DLL::EntryPoints dll_;
    bool fAbort = false;
    TRARProgressInfo fProgressInfo;
    bool fReadMVToEnd = false;
    std::uint32_t fPackedSizeMVVolume = 0;
    std::unique_ptr<char[]> Comment;
    std::unique_ptr<TRARArchiveInformation> fArchiveInformation;
    TRARArchiveDataEx ArchiveData{};
    RAR_HANDLE ArchiveHandle = nullptr;
    TRARHeaderDataEx hdrData{};
    std::string fDLLName;
    std::string fLoadError;
    TRAR* MySelf = nullptr;

    platform::Messages& messages_;
    std::exception_ptr pendingException_;
};
