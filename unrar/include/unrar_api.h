#pragma once
/*
 * The C interface of the UnRAR library: functions, records, constants and
 * callback types. Both our own library (unrar/) and the archive component
 * (RAR_Component/) include this one header, so the two always agree on the
 * layout that a genuine library expects.
 *
 * Records are packed to 1 byte, as the genuine library declares them; on
 * 64-bit Linux wchar_t is 4 bytes and handles and LPARAM are pointer-sized.
 */
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef _WIN32
#include <windows.h>
#define RAR_API PASCAL
#define RAR_CALLBACK CALLBACK
typedef HANDLE RAR_HANDLE;
typedef LPARAM RAR_LPARAM;
#else
#define RAR_API
#define RAR_CALLBACK
typedef void* RAR_HANDLE;
typedef long RAR_LPARAM;
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    ERAR_SUCCESS = 0,
    ERAR_END_ARCHIVE = 10,
    ERAR_NO_MEMORY = 11,
    ERAR_BAD_DATA = 12,
    ERAR_BAD_ARCHIVE = 13,
    ERAR_UNKNOWN_FORMAT = 14,
    ERAR_EOPEN = 15,
    ERAR_ECREATE = 16,
    ERAR_ECLOSE = 17,
    ERAR_EREAD = 18,
    ERAR_EWRITE = 19,
    ERAR_SMALL_BUF = 20,
    ERAR_UNKNOWN = 21,
    ERAR_MISSING_PASSWORD = 22,
    ERAR_EREFERENCE = 23,
    ERAR_BAD_PASSWORD = 24,
    ERAR_LARGE_DICT = 25
};

enum { RAR_OM_LIST = 0, RAR_OM_EXTRACT = 1, RAR_OM_LIST_INCSPLIT = 2 };

enum { RAR_SKIP = 0, RAR_TEST = 1, RAR_EXTRACT = 2 };

enum { RAR_VOL_ASK = 0, RAR_VOL_NOTIFY = 1 };

/* Interface version that our library reports. */
#define RAR_DLL_VERSION_CURRENT 9

enum { RAR_HASH_NONE = 0, RAR_HASH_CRC32 = 1, RAR_HASH_BLAKE2 = 2 };

/* Entry flags in RARHeaderDataEx.Flags. */
#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0x20

/* Archive flags in RAROpenArchiveDataEx.Flags. */
#define ROADF_VOLUME 0x0001
#define ROADF_COMMENT 0x0002
#define ROADF_LOCK 0x0004
#define ROADF_SOLID 0x0008
#define ROADF_NEWNUMBERING 0x0010
#define ROADF_SIGNED 0x0020
#define ROADF_RECOVERY 0x0040
#define ROADF_ENCHEADERS 0x0080
#define ROADF_FIRSTVOLUME 0x0100

#define ROADOF_KEEPBROKEN 0x0001

/* Link kinds in RARHeaderDataEx.RedirType. */
enum {
    FSREDIR_NONE = 0,
    FSREDIR_UNIXSYMLINK,
    FSREDIR_WINSYMLINK,
    FSREDIR_JUNCTION,
    FSREDIR_HARDLINK,
    FSREDIR_FILECOPY
};

enum UNRARCALLBACK_MESSAGES {
    UCM_CHANGEVOLUME = 0,
    UCM_PROCESSDATA = 1,
    UCM_NEEDPASSWORD = 2,
    UCM_CHANGEVOLUMEW = 3,
    UCM_NEEDPASSWORDW = 4,
    UCM_LARGEDICT = 5
};

typedef int(RAR_CALLBACK* UNRARCALLBACK)(unsigned int msg, RAR_LPARAM UserData, RAR_LPARAM P1, RAR_LPARAM P2);
typedef int(RAR_CALLBACK* CHANGEVOLPROC)(char* ArcName, int Mode);
typedef int(RAR_CALLBACK* PROCESSDATAPROC)(unsigned char* Addr, int Size);

#pragma pack(push, 1)

struct RARHeaderData {
    char ArcName[260];
    char FileName[260];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int UnpSize;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RARHeaderDataEx {
    char ArcName[1024];
    wchar_t ArcNameW[1024];
    char FileName[1024];
    wchar_t FileNameW[1024];
    unsigned int Flags;
    unsigned int PackSize;
    unsigned int PackSizeHigh;
    unsigned int UnpSize;
    unsigned int UnpSizeHigh;
    unsigned int HostOS;
    unsigned int FileCRC;
    unsigned int FileTime;
    unsigned int UnpVer;
    unsigned int Method;
    unsigned int FileAttr;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int DictSize;
    unsigned int HashType;
    char Hash[32];
    unsigned int RedirType;
    wchar_t* RedirName;
    unsigned int RedirNameSize;
    unsigned int DirTarget;
    unsigned int MtimeLow;
    unsigned int MtimeHigh;
    unsigned int CtimeLow;
    unsigned int CtimeHigh;
    unsigned int AtimeLow;
    unsigned int AtimeHigh;
    wchar_t* ArcNameEx;
    unsigned int ArcNameExSize;
    wchar_t* FileNameEx;
    unsigned int FileNameExSize;
    unsigned int Reserved[982];
};

struct RAROpenArchiveData {
    char* ArcName;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
};

struct RAROpenArchiveDataEx {
    char* ArcName;
    wchar_t* ArcNameW;
    unsigned int OpenMode;
    unsigned int OpenResult;
    char* CmtBuf;
    unsigned int CmtBufSize;
    unsigned int CmtSize;
    unsigned int CmtState;
    unsigned int Flags;
    UNRARCALLBACK Callback;
    RAR_LPARAM UserData;
    unsigned int OpFlags;
    wchar_t* CmtBufW;
    unsigned int Reserved[25];
};

#pragma pack(pop)

/* Exported functions. The typedefs name the entry points as the archive
 * component resolves them at run time. */
typedef RAR_HANDLE(RAR_API* RAROpenArchiveFn)(struct RAROpenArchiveData* ArchiveData);
typedef RAR_HANDLE(RAR_API* RAROpenArchiveExFn)(struct RAROpenArchiveDataEx* ArchiveData);
typedef int(RAR_API* RARCloseArchiveFn)(RAR_HANDLE hArcData);
typedef int(RAR_API* RARReadHeaderFn)(RAR_HANDLE hArcData, struct RARHeaderData* HeaderData);
typedef int(RAR_API* RARReadHeaderExFn)(RAR_HANDLE hArcData, struct RARHeaderDataEx* HeaderData);
typedef int(RAR_API* RARProcessFileFn)(RAR_HANDLE hArcData, int Operation, char* DestPath, char* DestName);
typedef void(RAR_API* RARSetCallbackFn)(RAR_HANDLE hArcData, UNRARCALLBACK Callback, RAR_LPARAM UserData);
typedef void(RAR_API* RARSetChangeVolProcFn)(RAR_HANDLE hArcData, CHANGEVOLPROC ChangeVolProc);
typedef void(RAR_API* RARSetProcessDataProcFn)(RAR_HANDLE hArcData, PROCESSDATAPROC ProcessDataProc);
typedef void(RAR_API* RARSetPasswordFn)(RAR_HANDLE hArcData, char* Password);
typedef int(RAR_API* RARGetDllVersionFn)(void);

#ifndef UNRAR_NO_PROTOTYPES
RAR_HANDLE RAR_API RAROpenArchive(struct RAROpenArchiveData* ArchiveData);
RAR_HANDLE RAR_API RAROpenArchiveEx(struct RAROpenArchiveDataEx* ArchiveData);
int RAR_API RARCloseArchive(RAR_HANDLE hArcData);
int RAR_API RARReadHeader(RAR_HANDLE hArcData, struct RARHeaderData* HeaderData);
int RAR_API RARReadHeaderEx(RAR_HANDLE hArcData, struct RARHeaderDataEx* HeaderData);
int RAR_API RARProcessFile(RAR_HANDLE hArcData, int Operation, char* DestPath, char* DestName);
void RAR_API RARSetCallback(RAR_HANDLE hArcData, UNRARCALLBACK Callback, RAR_LPARAM UserData);
void RAR_API RARSetChangeVolProc(RAR_HANDLE hArcData, CHANGEVOLPROC ChangeVolProc);
void RAR_API RARSetProcessDataProc(RAR_HANDLE hArcData, PROCESSDATAPROC ProcessDataProc);
void RAR_API RARSetPassword(RAR_HANDLE hArcData, char* Password);
int RAR_API RARGetDllVersion(void);
#endif

#ifdef __cplusplus
}

#if !defined(_WIN32) && defined(__x86_64__)
static_assert(sizeof(RAROpenArchiveDataEx) == 176, "open record layout");
static_assert(sizeof(RARHeaderDataEx) == 14340, "header record layout");
static_assert(offsetof(RARHeaderDataEx, Flags) == 10240, "header record layout");
static_assert(offsetof(RARHeaderDataEx, DictSize) == 10304, "header record layout");
static_assert(offsetof(RARHeaderDataEx, Reserved) == 10412, "header record layout");
static_assert(offsetof(RAROpenArchiveDataEx, Reserved) == 76, "open record layout");
#endif
#endif
