#pragma once
// Loading a shared library at run time and looking up its exports by name.
// Handles are machine words; 0 stands for "no library".
#include <cstdint>
#include <string>

namespace platform {

using ModuleHandle = std::uintptr_t;

// Loads the library named by an 8-bit file name. A bare name (no folder part)
// is looked up in the executable's folder first and then by the system's own
// search order, as Windows does. Returns 0 when it cannot be loaded.
ModuleHandle loadLibrary(const std::string& fileName);
// The same, telling why a library could not be loaded (the system's text).
ModuleHandle loadLibrary(const std::string& fileName, std::string& whyNot);

// Address of an exported symbol, or null when the library lacks it.
void* findSymbol(ModuleHandle module, const char* name);

// Drops one reference to the library; releasing 0 does nothing.
void releaseLibrary(ModuleHandle module);

} // namespace platform
