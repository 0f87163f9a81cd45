// Keeps GCC's OpenMP runtime loaded once this library has pulled it in.
//
// libb2 (our BLAKE2sp) runs its hash on libgomp's worker threads, and
// libgomp is loaded only because we are. Unloading this library would
// unload libgomp too while its idle workers live on, parked in its code: a
// signal handled on one of them then returns into unmapped memory and the
// process crashes. libgomp also leaves an 8-byte block it allocated at load
// in a global of its own, which the leak checker sees orphaned once the
// global is gone. Pinning libgomp (never this library) avoids both; it is
// mapped once per process and costs nothing more.
#include <dlfcn.h>

namespace {

[[gnu::constructor]] void keepOpenMpLoaded()
{
    // Not loaded (a libb2 built without OpenMP): nothing to keep.
    dlopen("libgomp.so.1", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

} // namespace
