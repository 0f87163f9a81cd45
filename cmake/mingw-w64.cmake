# Cross compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads,
# for std::thread and std::mutex). The libraries come from Debian's MinGW
# packages (/usr/x86_64-w64-mingw32) and from the prefix that
# scripts/setup-windows-libraries builds from Debian's source packages.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVREL_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVREL_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVREL_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVREL_MINGW_HOST}-windres)

if(DEFINED ENV{TAVREL_MINGW_PREFIX})
  set(TAVREL_MINGW_PREFIX $ENV{TAVREL_MINGW_PREFIX})
else()
  set(TAVREL_MINGW_PREFIX /opt/tavrel-mingw64)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${TAVREL_MINGW_HOST} ${TAVREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config answers for the Windows libraries only, never for the host's.
set(ENV{PKG_CONFIG_LIBDIR} ${TAVREL_MINGW_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Every program and the DLL carry their own C and C++ run time, so that a
# workstation (and Wine) needs no MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static") # plugins, such as Qt's
# A library found as a static archive by its path (libodbc32.a) is linked
# between -Bstatic and -Bdynamic; left at -Bdynamic, the C++ run time that
# the compiler adds after it would come from its DLL again.
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# Test programs run under Wine.
find_program(TAVREL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TAVREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TAVREL_WINE})
endif()
