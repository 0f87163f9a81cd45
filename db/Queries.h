#pragma once
// A query or stored-procedure call of the data module under its component name.
#include "db/DbQuery.h"
#include "db/DbStoredProc.h"

#include <string_view>

struct TDmQueryEntry {
    std::string_view Name;
    TDbQuery* Query = nullptr;           // set for a query
    TDbStoredProc* StoredProc = nullptr; // set for a stored-procedure call
};
