#pragma once
// Key generators of either database, in the SQL form of the database system
// its driver identifier names.
#include "db/DbQuery.h"
#include "db/DbStoredProc.h"

#include <string>

namespace services {

// The next value of generator NGen: through `proc` for "MSSQL", through the
// scratch query for "FB" and "Ora"; 0 for an unknown identifier. Database
// errors reach the caller.
int NextGeneratorValue(const std::string& driverId, const std::string& NGen, TDbStoredProc& proc, TDbQuery& scratch);

} // namespace services
