#include "unrar/src/crypt/Wipe.h"

#include <openssl/crypto.h>

namespace unrar::crypt {

void wipe(void* data, size_t size) { OPENSSL_cleanse(data, size); }

} // namespace unrar::crypt
