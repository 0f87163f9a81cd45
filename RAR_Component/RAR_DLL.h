#pragma once
// Binding of the UnRAR dynamic library: the constants the component uses, the
// records exchanged with the library, the table of entry points each
// component looks up in the library it loaded, and the file helpers the
// archive component needs.
//
// The records and callback types come from the one interface header that our
// own library is built from too, so both always agree on the layout.
#include "RAR_DLLEntryPoints.h"
#include "platform/DynamicLibrary.h"
#include "unrar/include/unrar_api.h"

#include <cstdint>
#include <string>

// Values the library does not define in its header, or defines under other names.
inline constexpr int RAR_METHOD_STORE = 48;
inline constexpr int RAR_METHOD_FASTEST = 49;
inline constexpr int RAR_METHOD_FAST = 50;
inline constexpr int RAR_METHOD_NORMAL = 51;
inline constexpr int RAR_METHOD_GOOD = 52;
inline constexpr int RAR_METHOD_BEST = 53;

inline constexpr int RAR_SUCCESS = 0;
inline constexpr int ERAR_NO_COMMENTS = 0;
inline constexpr int ERAR_COMMENTS_EXISTS = 1;
// The component's own code: the library is not loaded, or the archive could not be opened.
inline constexpr int ERAR_DLL_LOAD_ERROR = 99;

inline constexpr int RAR_DLL_VERSION = 3;
inline constexpr int MAX_RAR_COMMENTSIZE = 65536;
// Lowest interface version accepted without asking the user for a newer library.
inline constexpr int MIN_RAR_VERSION = 4;

// The volume-name buffer's size in characters, terminating zero included
// (the library's manual allows up to 1024 characters there).
inline constexpr int RAR_VOLUME_NAME_BUFFER = 1024;

using TRARArchiveData = RAROpenArchiveData;
using TRARArchiveDataEx = RAROpenArchiveDataEx;
using TRARHeaderData = RARHeaderData;
using TRARHeaderDataEx = RARHeaderDataEx;
using PRARArchiveData = TRARArchiveData*;
using PRARArchiveDataEx = TRARArchiveDataEx*;
using PRARHeaderData = TRARHeaderData*;
using PRARHeaderDataEx = TRARHeaderDataEx*;

using TUnRarCallBack = UNRARCALLBACK;
using TChangeVolProc = CHANGEVOLPROC;
using TProcessDataProc = PROCESSDATAPROC;

// Default library file name: the platform's name for it.
#ifdef _WIN32
inline constexpr const char* kDefaultUnrarLibrary = "unrar.dll";
#else
inline constexpr const char* kDefaultUnrarLibrary = "libunrar.so";
#endif

// A folder entry: RHDF_DIRECTORY in the flags, as libraries of interface
// version 5 and later report it, or the plain folder attribute 16 that
// archives made on Windows store.
bool isFolderEntry(const RARHeaderDataEx& header);

namespace RAR_DLL {

// True once any component in the process has loaded a library; never cleared.
extern bool DllLoaded;

// Every entry point of one library, looked up by name. Each component keeps
// the table of the library it loaded and calls through that alone.
struct EntryPoints {
    // One member for each name in RAR_DLL_ENTRY_POINTS, named as the library exports it.
#define RAR_DLL_MEMBER(name) name##Fn name = nullptr;
    RAR_DLL_ENTRY_POINTS(RAR_DLL_MEMBER)
#undef RAR_DLL_MEMBER

    // Whether the library exports all eleven.
    bool complete() const;
};

// The entry points `module` exports; those it lacks stay null.
EntryPoints lookUpEntryPoints(platform::ModuleHandle module);

// Makes a complete table the process-wide view below.
void publishAsLatest(const EntryPoints& entryPoints);

// The entry points of the complete library loaded last by any component, for
// readers outside the component. Every complete load overwrites all eleven;
// unloading leaves them as they are. The component itself never calls
// through these. One for each name in RAR_DLL_ENTRY_POINTS.
#define RAR_DLL_DECLARE(name) extern name##Fn name;
RAR_DLL_ENTRY_POINTS(RAR_DLL_DECLARE)
#undef RAR_DLL_DECLARE

// Last-write time in local time at MS-DOS resolution (two seconds), as a
// date-time value; 0 when the file cannot be opened for reading.
double GetFileModifyDate(const std::u16string& FileName);

// Size of the file or folder entry named; 0 when there is none.
std::int64_t GetFileSize(const std::u16string& S);

// True when the file is an executable that can carry a self-extracting
// archive: a 32-bit Windows, MS-DOS, 16-bit Windows, PIF, POSIX or OS/2
// program, or an ELF program. A 64-bit Windows program, any other file and an
// unreadable one give false.
bool isSFX(const std::u16string& FileName);

} // namespace RAR_DLL
