#pragma once
// The library's entry points in one list, which the binding expands into its
// per-component table, the lookups by name and the process-wide pointers, so
// that no entry point can be missing from one of them. X(name) for each; the
// entry point's function type is name##Fn from the interface header.
#define RAR_DLL_ENTRY_POINTS(X)                                                                                        \
    X(RAROpenArchive)                                                                                                  \
    X(RAROpenArchiveEx)                                                                                                \
    X(RARCloseArchive)                                                                                                 \
    X(RARReadHeader)                                                                                                   \
    X(RARReadHeaderEx)                                                                                                 \
    X(RARProcessFile)                                                                                                  \
    X(RARSetCallback)                                                                                                  \
    X(RARSetChangeVolProc)                                                                                             \
    X(RARSetProcessDataProc)                                                                                           \
    X(RARSetPassword)                                                                                                  \
    X(RARGetDllVersion)
