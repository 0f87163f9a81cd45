#pragma once
// One statement run in a transaction of its own.
#include "db/DbConnection.h"
#include "db/DbTransaction.h"

#include <string>

namespace services {

// Commits what is pending on `transaction`, then runs S in it and commits;
// false, rolled back and nothing passed on when it fails. `checkBeforeCommit`
// false commits without asking whether the transaction is still active, so a
// failing commit counts as a failed statement.
bool RunStatement(TDbConnection& connection, TDbTransaction& transaction, const std::string& S, bool checkBeforeCommit);

} // namespace services
