#include "RAR.h"

#include "HeaderText.h"

#include "platform/FileOps.h"
#include "platform/TextCodec.h"

#include <filesystem>
#include <utility>

namespace {

std::string assertionText(const std::source_location& where)
{
    const std::string file = std::filesystem::path(where.file_name()).filename().string();
    return "Assertion failure (" + file + ", line " + std::to_string(where.line()) + ")";
}

// Every entry point of one library, looked up by name.
struct EntryPoints {
    RAROpenArchiveFn openArchive = nullptr;
    RAROpenArchiveExFn openArchiveEx = nullptr;
    RARCloseArchiveFn closeArchive = nullptr;
    RARReadHeaderFn readHeader = nullptr;
    RARReadHeaderExFn readHeaderEx = nullptr;
    RARProcessFileFn processFile = nullptr;
    RARSetCallbackFn setCallback = nullptr;
    RARSetChangeVolProcFn setChangeVolProc = nullptr;
    RARSetProcessDataProcFn setProcessDataProc = nullptr;
    RARSetPasswordFn setPassword = nullptr;
    RARGetDllVersionFn getDllVersion = nullptr;

    bool complete() const
    {
        return openArchive && openArchiveEx && closeArchive && readHeader && readHeaderEx && processFile &&
               setCallback && setChangeVolProc && setProcessDataProc && setPassword && getDllVersion;
    }
};

template <typename Fn> Fn lookUp(platform::ModuleHandle module, const char* name)
{
    return reinterpret_cast<Fn>(platform::findSymbol(module, name));
}

EntryPoints lookUpEntryPoints(platform::ModuleHandle module)
{
    EntryPoints e;
    e.openArchive = lookUp<RAROpenArchiveFn>(module, "RAROpenArchive");
    e.openArchiveEx = lookUp<RAROpenArchiveExFn>(module, "RAROpenArchiveEx");
    e.closeArchive = lookUp<RARCloseArchiveFn>(module, "RARCloseArchive");
    e.readHeader = lookUp<RARReadHeaderFn>(module, "RARReadHeader");
    e.readHeaderEx = lookUp<RARReadHeaderExFn>(module, "RARReadHeaderEx");
    e.processFile = lookUp<RARProcessFileFn>(module, "RARProcessFile");
    e.setCallback = lookUp<RARSetCallbackFn>(module, "RARSetCallback");
    e.setChangeVolProc = lookUp<RARSetChangeVolProcFn>(module, "RARSetChangeVolProc");
    e.setProcessDataProc = lookUp<RARSetProcessDataProcFn>(module, "RARSetProcessDataProc");
    e.setPassword = lookUp<RARSetPasswordFn>(module, "RARSetPassword");
    e.getDllVersion = lookUp<RARGetDllVersionFn>(module, "RARGetDllVersion");
    return e;
}

void install(const EntryPoints& e)
{
    RAR_DLL::RAROpenArchive = e.openArchive;
    RAR_DLL::RAROpenArchiveEx = e.openArchiveEx;
    RAR_DLL::RARCloseArchive = e.closeArchive;
    RAR_DLL::RARReadHeader = e.readHeader;
    RAR_DLL::RARReadHeaderEx = e.readHeaderEx;
    RAR_DLL::RARProcessFile = e.processFile;
    RAR_DLL::RARSetCallback = e.setCallback;
    RAR_DLL::RARSetChangeVolProc = e.setChangeVolProc;
    RAR_DLL::RARSetProcessDataProc = e.setProcessDataProc;
    RAR_DLL::RARSetPassword = e.setPassword;
    RAR_DLL::RARGetDllVersion = e.getDllVersion;
}

} // namespace

EAssertionFailed::EAssertionFailed(const std::source_location& where) : std::logic_error(assertionText(where)) {}

TRAR::TRAR(platform::Messages& messages)
    : fArchiveInformation(std::make_unique<TRARArchiveInformation>()), fDLLName(kDefaultUnrarLibrary),
      MySelf(this), messages_(messages)
{
}

TRAR::~TRAR()
{
    Comment.reset();
    fArchiveInformation.reset();
    UnloadDLL();
}

void TRAR::LoadDLL()
{
    RARDLLInstance = platform::loadLibrary(fDLLName);
    if (RARDLLInstance == 0)
        return;
    RAR_DLL::DllLoaded = true;
    const EntryPoints found = lookUpEntryPoints(RARDLLInstance);
    if (found.complete()) {
        install(found);
    } else {
        // The incomplete library stays mapped but counts as not loaded. The
        // process-wide table keeps the last complete library's entry points,
        // so other components never call through a null one.
        RARDLLInstance = 0;
        UnloadDLL();
    }
    if (found.getDllVersion && found.getDllVersion() < MIN_RAR_VERSION) {
        messages_.plain(u"please download the newest \"" + platform::ansiToUtf16(kDefaultUnrarLibrary) +
                            u"\" file. See https://www.rarlab.com",
                        u"error");
    }
}

void TRAR::UnloadDLL()
{
    if (!RAR_DLL::DllLoaded)
        return;
    platform::releaseLibrary(RARDLLInstance);
    RARDLLInstance = 0;
}

std::int32_t TRAR::GetDllVersion()
{
    if (!isDLLLoaded())
        LoadDLL();
    if (isDLLLoaded())
        return RAR_DLL::RARGetDllVersion();
    Error(ERAR_DLL_LOAD_ERROR, roInitArchive);
    return 0;
}

void TRAR::Abort() { fAbort = true; }

void TRAR::Error(std::int32_t ErrorCode, TRAROperation Operation)
{
    switch (ErrorCode) {
    case ERAR_NO_MEMORY:
    case ERAR_BAD_DATA:
    case ERAR_UNKNOWN_FORMAT:
    case ERAR_EOPEN:
    case ERAR_ECREATE:
    case ERAR_ECLOSE:
    case ERAR_EREAD:
    case ERAR_EWRITE:
    case ERAR_SMALL_BUF:
    case ERAR_UNKNOWN:
    case ERAR_DLL_LOAD_ERROR:
        fAbort = true;
        break;
    default:
        break;
    }
    if (OnError)
        OnError(*this, ErrorCode, Operation);
}

bool TRAR::OpenFile(const std::u16string& FileName)
{
    fArchiveInformation->Reset();
    if (!isDLLLoaded())
        LoadDLL();
    if (!isDLLLoaded()) {
        Error(ERAR_DLL_LOAD_ERROR, roInitArchive);
        return false;
    }
    fArchiveInformation->fFileName = platform::utf16ToAnsi(FileName);
    const bool listed = List();
    fArchiveInformation->fOpened = true;
    return listed;
}

bool TRAR::InitArchive(bool Extract)
{
    TRARArchiveInformation& info = *fArchiveInformation;
    ArchiveData.CmtState = 0;
    ArchiveData.OpenResult = 0;
    ArchiveData.OpenMode = Extract ? RAR_OM_EXTRACT : (fReadMVToEnd ? RAR_OM_LIST_INCSPLIT : RAR_OM_LIST);
    ArchiveData.ArcName = info.fFileName.data();
    ArchiveData.ArcNameW = nullptr;
    if (!Comment)
        Comment = std::make_unique<char[]>(MAX_RAR_COMMENTSIZE);
    ArchiveData.CmtBuf = Comment.get();
    ArchiveData.CmtBufSize = MAX_RAR_COMMENTSIZE;

    ArchiveHandle = RAR_DLL::RAROpenArchiveEx(&ArchiveData);
    if (ArchiveHandle == nullptr) {
        // The library's own OpenResult is not told apart: every refusal is 99.
        Error(ERAR_DLL_LOAD_ERROR, roInitArchive);
        return false;
    }

    const unsigned flags = ArchiveData.Flags;
    info.fLocked = info.fLocked || (flags & ROADF_LOCK);
    info.fSigned = info.fSigned || (flags & ROADF_SIGNED);
    info.fRecovery = info.fRecovery || (flags & ROADF_RECOVERY);
    info.fSolid = info.fSolid || (flags & ROADF_SOLID);
    info.fArchiveComment = info.fArchiveComment || (flags & ROADF_COMMENT);
    info.fHeaderEncrypted = info.fHeaderEncrypted || (flags & ROADF_ENCHEADERS);
    info.fSFX = RAR_DLL::isSFX(platform::ansiToUtf16(info.fFileName));

    const int state = static_cast<int>(ArchiveData.CmtState);
    switch (state) {
    case ERAR_NO_COMMENTS:
        info.fComment.clear();
        info.fArchiveComment = false;
        break;
    case ERAR_COMMENTS_EXISTS:
        info.fComment = boundedText(Comment.get(), MAX_RAR_COMMENTSIZE);
        info.fArchiveComment = true;
        break;
    case ERAR_NO_MEMORY:
    case ERAR_BAD_DATA:
    case ERAR_UNKNOWN_FORMAT:
    case ERAR_SMALL_BUF:
        Error(state, roInitArchive);
        break;
    default:
        break;
    }
    return state == ERAR_NO_COMMENTS || state == ERAR_COMMENTS_EXISTS;
}

bool TRAR::CloseArchive()
{
    const int result = RAR_DLL::RARCloseArchive(ArchiveHandle);
    ArchiveHandle = nullptr;
    if (result == ERAR_ECLOSE)
        Error(ERAR_ECLOSE, roInitArchive);
    return result == 0;
}

void TRAR::rethrowPending()
{
    if (pendingException_)
        std::rethrow_exception(std::exchange(pendingException_, nullptr));
}

bool TRAR::walk(bool extractMode, const std::function<bool()>& entries)
{
    if (!platform::isExistingFile(fArchiveInformation->fFileName))
        throw EAssertionFailed();
    fAbort = false;
    pendingException_ = nullptr;
    ArchiveHandle = nullptr;
    bool result = false;
    try {
        if (!InitArchive(extractMode) || fAbort) {
            if (ArchiveHandle != nullptr)
                CloseArchive();
            return false;
        }
        MySelf = this;
        RAR_DLL::RARSetCallback(ArchiveHandle, UnRarCallBack, reinterpret_cast<RAR_LPARAM>(MySelf));
        result = entries();
    } catch (...) {
        // A handler's exception: the archive is closed before it travels on.
        pendingException_ = nullptr;
        if (ArchiveHandle != nullptr)
            CloseArchive();
        throw;
    }
    CloseArchive();
    return result;
}

bool TRAR::List()
{
    return walk(false, [this] { return listEntries(); });
}

bool TRAR::Test()
{
    return walk(true, [this] { return testEntries(); });
}

bool TRAR::Extract(const std::string& Path, bool RestoreFolder, const std::vector<std::string>* Files)
{
    const bool result = walk(true, [&] { return extractEntries(Path, RestoreFolder, Files); });
    // Closing the archive may report an error that stops the extraction too.
    return result && !fAbort;
}
