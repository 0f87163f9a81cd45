#pragma once
// The database half of the data module: the two database connections with
// their transactions, the parameter query and the named queries, and
// connecting from a settings section. No widgets: the dialog that corrects
// connection parameters comes in through ConnectionParamsPrompt. The
// services built on these queries sit above, in services/, and the data
// module as callers see it (TMainDM) in datamodule/.
#include "db/ConnectionParamsPrompt.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "db/DbTransaction.h"
#include "db/Queries.h"
#include "platform/Messages.h"

#include <string>
#include <vector>

class TDbModule {
public:
    explicit TDbModule(platform::Messages& messages);
    TDbModule(const TDbModule&) = delete;
    TDbModule& operator=(const TDbModule&) = delete;

    // Connections first: the transactions and queries below refer to them.
    TDbConnection FDconUrv;
    TDbConnection FDconGremond;
    TDbTransaction FDTrUrvSel{FDconUrv};
    TDbTransaction FDTrUrvQ{FDconUrv};
    TDbTransaction FDTrGremondSel{FDconGremond};
    TDbTransaction FDTrGremondQ{FDconGremond};
    TDbQuery QParam{FDconUrv, &FDTrUrvSel, &FDTrUrvQ};

    // The further queries and stored-procedure calls, created closed.
#define TAVREL_DM_QUERY(name, connection, readTr, updateTr, sql) TDbQuery name{connection, readTr, updateTr, sql};
#define TAVREL_DM_STORED_PROC(name, connection, readTr, updateTr, procName, params)                                    \
    TDbStoredProc name{connection, readTr, updateTr, procName, params};
#include "db/QueriesList.h"
#undef TAVREL_DM_QUERY
#undef TAVREL_DM_STORED_PROC

    // Every query and stored-procedure call under its name, QParam first.
    std::vector<TDmQueryEntry> QueryComponents();

    // Configures dbCon from section Sect of the settings file and opens it;
    // on failure offers the connection parameters dialog once and retries.
    // False after the user has been told. Subd receives the driver identifier.
    bool ConnectDB(TDbConnection& dbCon, const std::string& DBName, const std::string& Sect, std::string& Subd);

    std::string XorEncode(const std::string& Source) const;
    std::string XorDecode(const std::string& Source) const;

    // Not owned; nullptr means no dialog, which ends like a cancel.
    void SetConnectionParamsPrompt(ConnectionParamsPrompt* prompt) { prompt_ = prompt; }

    // The busy pointer of both connections (not owned; nullptr shows none).
    void SetWaitCursor(TWaitCursor* cursor)
    {
        FDconUrv.WaitCursor = cursor;
        FDconGremond.WaitCursor = cursor;
    }

    platform::Messages& Messages() { return messages_; }

private:
    struct ConnectValues;
    void SetParams(ConnectValues& values, TDbConnection& dbCon, const std::string& Sect, std::string& Subd) const;
    void Fallback(ConnectValues& values, TDbConnection& dbCon, const std::string& DBName, const std::string& Sect,
                  std::string& Subd, bool& Result);

    platform::Messages& messages_;
    ConnectionParamsPrompt* prompt_ = nullptr;
};

// Driver identifiers ("FB", "MSSQL", "Ora") of the working-time and the
// access-control database; empty until ConnectDB fills them.
extern std::string urvDB;
extern std::string gremondDB;
