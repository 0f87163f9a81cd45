#pragma once
// A call of a stored procedure of the database, its parameters addressed by
// position or name.
#include "db/DbConnection.h"
#include "db/DbParam.h"
#include "db/DbTransaction.h"

#include <string>
#include <vector>

class TDbStoredProc {
public:
    TDbStoredProc(TDbConnection& connection, TDbTransaction* transaction, TDbTransaction* updateTransaction,
                  std::string storedProcName, std::vector<TDbParam> params = {})
        : Connection(connection), Transaction(transaction), UpdateTransaction(updateTransaction),
          StoredProcName(std::move(storedProcName)), Params(std::move(params))
    {}

    TDbConnection& Connection;
    TDbTransaction* Transaction;
    TDbTransaction* UpdateTransaction;
    std::string StoredProcName;
    std::vector<TDbParam> Params;

    // Throws TDbError when there is no parameter at that position or of that name.
    TDbParam& Param(size_t position);
    TDbParam& ParamByName(const std::string& name);

    // Runs the procedure and stores the values it gives back in the output,
    // input-output and result parameters. Throws TDbError with the database's text.
    void ExecProc();

    // Never open: a call returns no rows of its own.
    bool Active() const { return false; }
};

// The call text each database system expects, with one "?" per parameter
// handed over:
//   "FB"    execute procedure NAME(?, ...)           inputs only; outputs come back as a row
//   "MSSQL" {? = call NAME(?, ...)}                  every parameter, the result first
//   "Ora"   begin ? := NAME(?, ...); end;            the same as an anonymous block
std::string storedProcCallText(const std::string& driverId, const std::string& name,
                               const std::vector<TDbParam>& params);
