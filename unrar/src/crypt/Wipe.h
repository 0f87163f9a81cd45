#pragma once
// Overwrites a secret (a password, a key, their temporaries) with zeros in a
// way the compiler cannot drop as a store that is never read.
#include <cstddef>

namespace unrar::crypt {

void wipe(void* data, size_t size);

} // namespace unrar::crypt
