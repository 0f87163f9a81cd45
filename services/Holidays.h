#pragma once
// The holiday table of the working-time database.
#include "db/DbQuery.h"
#include "core/DateTime.h"

namespace services {

// Whether the day and month of Dt are listed in HLDTAB, read through QHld;
// database errors reach the caller.
bool IsHoliday(TDbQuery& QHld, TDateTime Dt);

} // namespace services
