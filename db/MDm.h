#pragma once
// The data module: the two database connections with their transactions, the
// parameter query, and connecting from a settings section. No widgets: the
// dialog that corrects connection parameters comes in through
// ConnectionParamsPrompt.
#include "db/ConnectionParamsPrompt.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "db/DbTransaction.h"
#include "platform/Messages.h"

#include <string>
#include <vector>

class TMainDM {
public:
    explicit TMainDM(platform::Messages& messages);
    TMainDM(const TMainDM&) = delete;
    TMainDM& operator=(const TMainDM&) = delete;

    // Connections first: the transactions and queries below refer to them.
    TDbConnection FDconUrv;
    TDbConnection FDconGremond;
    TDbTransaction FDTrUrvSel{FDconUrv};
    TDbTransaction FDTrUrvQ{FDconUrv};
    TDbTransaction FDTrGremondSel{FDconGremond};
    TDbTransaction FDTrGremondQ{FDconGremond};
    TDbQuery QParam{FDconUrv, &FDTrUrvSel, &FDTrUrvQ};

    // Configures dbCon from section Sect of the settings file and opens it;
    // on failure offers the connection parameters dialog once and retries.
    // False after the user has been told. Subd receives the driver identifier.
    bool ConnectDB(TDbConnection& dbCon, const std::string& DBName, const std::string& Sect, std::string& Subd);

    std::string XorEncode(const std::string& Source) const;
    std::string XorDecode(const std::string& Source) const;

    // Not owned; nullptr means no dialog, which ends like a cancel.
    void SetConnectionParamsPrompt(ConnectionParamsPrompt* prompt) { prompt_ = prompt; }

    platform::Messages& Messages() { return messages_; }

private:
    struct ConnectValues;
    void SetParams(ConnectValues& values, TDbConnection& dbCon, const std::string& Sect, std::string& Subd) const;
    void Fallback(ConnectValues& values, TDbConnection& dbCon, const std::string& DBName, const std::string& Sect,
                  std::string& Subd, bool& Result);

    platform::Messages& messages_;
    ConnectionParamsPrompt* prompt_ = nullptr;
};

// The single data module, set by start-up.
extern TMainDM* MainDM;
// Driver identifiers ("FB", "MSSQL", "Ora") of the working-time and the
// access-control database; empty until ConnectDB fills them.
extern std::string urvDB;
extern std::string gremondDB;
