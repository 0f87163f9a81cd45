#include "unrar/src/crypt/Wipe.h"

#include <windows.h>

namespace unrar::crypt {

void wipe(void* data, size_t size) { SecureZeroMemory(data, size); }

} // namespace unrar::crypt
