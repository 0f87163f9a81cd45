#pragma once
// The data module: the two database connections with their transactions, the
// parameter query, and connecting from a settings section. No widgets: the
// dialog that corrects connection parameters comes in through
// ConnectionParamsPrompt.
#include "db/ConnectionParamsPrompt.h"
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "db/DbTransaction.h"
#include "db/Queries.h"
#include "platform/HelpViewer.h"
#include "platform/Messages.h"
#include "platform/TreeView.h"
#include "platform/DateTime.h"

#include <cstdint>
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

    // The further queries and stored-procedure calls, created closed.
#define TAVREL_DM_QUERY(name, connection, readTr, updateTr, sql) TDbQuery name{connection, readTr, updateTr, sql};
#define TAVREL_DM_STORED_PROC(name, connection, readTr, updateTr, procName, params) \
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

    // Creation handler, run at the end of the constructor: sets MyHelpFile.
    void DataModuleCreate();
    // Help event handler: command 0 with data 0 shows the help file's
    // contents, command 1 the topic page Data; CallHelp is always set false.
    // True when a help window shows what was asked.
    bool HH(std::uint16_t Command, std::int32_t Data, bool& CallHelp);
    // Not owned; nullptr means no help window can be shown.
    void SetHelpViewer(platform::HelpViewer* viewer) { helpViewer_ = viewer; }

    // Calendar and text utilities (services/CalendarText.h says what each does).
    std::string UkrMonth(int Num) const;
    std::string RusMonth(int Num) const;
    std::u16string NameCol(int i) const;
    std::string DelForbidSimbol(const std::string& SN) const;
    std::int32_t Hex2Dec(const std::u16string& S) const;
    std::uint16_t DayInMonth(std::uint16_t M, std::uint16_t Y) const;
    TDateTime IdentDate(std::uint16_t NY, std::uint16_t NMes, std::uint16_t N) const;
    std::string MakeEven(const std::string& S, std::uint16_t N) const;
    bool FindInStr(const std::string& S, const std::string& Num) const;
    void NormTBreak(TDateTime TDat, TDateTime DBegin, TDateTime& DN, TDateTime& DK) const;
    // Whether the day and month of Dt are listed in HLDTAB; database errors reach the caller.
    bool CheckHol(TDateTime Dt);

    // Key generators: the next value of generator NGen of the working-time
    // (GetGen) or access-control (GetGenK) database, in the form its driver
    // identifier asks for; 0 for an unknown identifier. Database errors reach the caller.
    int GetGen(const std::string& NGen);
    int GetGenK(const std::string& NGen);
    // Runs one statement in a transaction of its own after committing what is
    // pending; false, rolled back and nothing passed on when it fails.
    bool DoSQLUrv(const std::string& S);
    bool DoSQLGremond(const std::string& S);

    // Department structure of the working-time database (services/DepartmentTree.cpp).
    // Refills TreeDep with the departments, each node's image index holding
    // its code: the whole hierarchy (FAll) or the branches below the codes of
    // ListDep ("5,7"), skipping items that fail. Database errors of the whole
    // hierarchy reach the caller.
    void BuildTree(platform::TreeView& TreeDep, bool FAll, const std::string& ListDep);
    // CDep and the codes of its descendants ("5,7,9"); a QDepChild the caller
    // left open is walked as it stands.
    std::string FindDepChild(int CDep);
    // The codes of CDep's ancestors, nearest first, ending with the parent
    // value that stops the walk ("12,3,0"); a cycle ends where it closes.
    std::string FindDepParents(int CDep);
    // Short name of a department or job; empty when there is none.
    std::string FindDep(int CD);
    std::string FindJob(int CJ);

    // Personnel synchronisation with the access-control database (services/PersonnelSync.cpp).
    // USER_ID of the person with personnel number TabN (FOur) or NUM TabN; -1 when none or on failure.
    int FindUserID(bool FOur, const std::string& TabN);
    // Whether person type TP is marked alien (INDICATION "1"); true on failure.
    bool ChAlien(int TP);
    // Points person UID at department Dep (FOur; created when missing) or at
    // the outside organisation Dep (only when it exists). Names match as given or trimmed.
    void ChDepInCM(const std::string& Dep, int UID, bool FOur);
    // Points person UID at profession Job (FOur; created when missing), or
    // sets the free-text JOB to Job exactly.
    void ChJobInCM(const std::string& Job, int UID, bool FOur);

private:
    struct ConnectValues;
    void SetParams(ConnectValues& values, TDbConnection& dbCon, const std::string& Sect, std::string& Subd) const;
    void Fallback(ConnectValues& values, TDbConnection& dbCon, const std::string& DBName, const std::string& Sect,
                  std::string& Subd, bool& Result);

    platform::Messages& messages_;
    ConnectionParamsPrompt* prompt_ = nullptr;
    platform::HelpViewer* helpViewer_ = nullptr;
};

// The single data module, set by start-up.
extern TMainDM* MainDM;
// Driver identifiers ("FB", "MSSQL", "Ora") of the working-time and the
// access-control database; empty until ConnectDB fills them.
extern std::string urvDB;
extern std::string gremondDB;
// Full path of the help file "Tavrel.chm" beside the executable (8-bit, ANSI).
extern std::string MyHelpFile;
