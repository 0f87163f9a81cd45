#pragma once
// Embedded Firebird databases standing in for the working-time and the
// access-control database of the data module.
#include "datamodule/MDm.h"
#include "tests/support/FirebirdTestDb.h"

#include <string>

namespace servicestest {

// Opens `connection` on the embedded database file as the "FB" driver.
void connectEmbedded(TDbConnection& connection, const testsupport::FirebirdTestDb& db);

// A value read through a connection of its own, so that only committed data counts.
std::string committedValue(const testsupport::FirebirdTestDb& db, const std::string& select);

} // namespace servicestest
