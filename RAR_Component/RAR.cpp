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

} // namespace

EAssertionFailed::EAssertionFailed(const std::source_location& where) : std::logic_error(assertionText(where)) {}

TRAR::TRAR(platform::Messages& messages)
    : fArchiveInformation(std::make_unique<TRARArchiveInformation>()), fDLLName(kDefaultUnrarLibrary), MySelf(this),
      messages_(messages)
{}

TRAR::~TRAR()
{
    Comment.reset();
    fArchiveInformation.reset();
    UnloadDLL();
}

void TRAR::LoadDLL()
{
    fLoadError.clear();
    RARDLLInstance = platform::loadLibrary(fDLLName, fLoadError);
    if (RARDLLInstance == 0)
        return;
    RAR_DLL::DllLoaded = true;
    const RAR_DLL::EntryPoints found = RAR_DLL::lookUpEntryPoints(RARDLLInstance);
    if (found.complete()) {
        dll_ = found;
        RAR_DLL::publishAsLatest(found);
    } else {
        // The incomplete library stays mapped but counts as not loaded. The
        // process-wide view keeps the last complete library's entry points.
        RARDLLInstance = 0;
        UnloadDLL();
        fLoadError = "not every entry point of the UnRAR interface is exported";
    }
    if (found.RARGetDllVersion && found.RARGetDllVersion() < MIN_RAR_VERSION) {
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
    // The library may be unmapped now: nothing may call into it any more.
    dll_ = {};
}

std::int32_t TRAR::GetDllVersion()
{
    if (!isDLLLoaded())
        LoadDLL();
    if (isDLLLoaded())
        return dll_.RARGetDllVersion();
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
    case ERAR_DLL_LOAD_ERROR: fAbort = true; break;
    default: break;
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

    ArchiveHandle = dll_.RAROpenArchiveEx(&ArchiveData);
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
    case ERAR_SMALL_BUF: Error(state, roInitArchive); break;
    default: break;
    }
    return state == ERAR_NO_COMMENTS || state == ERAR_COMMENTS_EXISTS;
}

bool TRAR::CloseArchive()
{
    const int result = dll_.RARCloseArchive(ArchiveHandle);
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
    // A walk after UnloadDLL loads the library again instead of calling
    // into one that may no longer be mapped.
    if (!isDLLLoaded())
        LoadDLL();
    if (!isDLLLoaded()) {
        Error(ERAR_DLL_LOAD_ERROR, roInitArchive);
        return false;
    }
    bool result = false;
    try {
        if (!InitArchive(extractMode) || fAbort) {
            if (ArchiveHandle != nullptr)
                CloseArchive();
            return false;
        }
        MySelf = this;
        dll_.RARSetCallback(ArchiveHandle, UnRarCallBack, reinterpret_cast<RAR_LPARAM>(MySelf));
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
