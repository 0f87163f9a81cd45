#include "services/SqlStatement.h"

namespace services {

bool RunStatement(TDbConnection& connection, TDbTransaction& transaction, const std::string& S, bool checkBeforeCommit)
{
    try {
        // Inside the guard too: a failing commit of pending work must not
        // escape a call that promises to report failure only as false.
        if (transaction.Active())
            transaction.Commit();
        transaction.StartTransaction();
        connection.ExecSQL(S);
        if (!checkBeforeCommit || transaction.Active())
            transaction.Commit();
        return true;
    } catch (...) {
        try {
            if (transaction.Active())
                transaction.Rollback();
        } catch (...) {
            // The statement has already failed; a failed rollback adds nothing to report.
        }
        return false;
    }
}

} // namespace services
