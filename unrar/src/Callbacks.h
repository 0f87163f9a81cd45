#pragma once
// The application's callback and the two obsolete procedures, with the
// message order the genuine library uses: the wide message first, the
// 8-bit one only when the wide answer left the buffer unchanged.
#include <cstdint>
#include <string>

#include "unrar/include/unrar_api.h"

namespace unrar {

class Callbacks {
public:
    UNRARCALLBACK callback = nullptr;
    RAR_LPARAM userData = 0;
    CHANGEVOLPROC changeVolProc = nullptr;
    PROCESSDATAPROC processDataProc = nullptr;

    // False when the application cancels.
    bool processData(const unsigned char* data, size_t size) const;
    bool notifyVolume(const std::string& name) const;
    // True with a (possibly new) name to try; false when the application
    // cancels or nobody can be asked.
    bool askVolume(std::string& name) const;
    // True with the password the application gave; false when refused.
    bool askPassword(std::string& password) const;
    // True when the application allows a dictionary above the library's
    // own limit (sizes in KiB); without a callback, or with any answer but
    // 1, it is refused.
    bool allowLargeDictionary(uint64_t neededKB, uint64_t limitKB) const;
};

} // namespace unrar
