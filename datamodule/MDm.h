#pragma once
// The data module as the rest of the program sees it: the connections,
// transactions and queries of the database layer (TDbModule), and every
// operation of the data module under its own name, each a forward to the
// service in services/ that does the work.
#include "db/DbModule.h"
#include "core/DateTime.h"
#include "platform/HelpViewer.h"
#include "platform/TreeView.h"
#include "services/DepartmentTree.h"
#include "services/PersonnelSync.h"

#include <cstdint>
#include <string>

class TMainDM : public TDbModule {
public:
    // Runs DataModuleCreate.
    explicit TMainDM(platform::Messages& messages);

    // Creation handler, run at the end of the constructor: sets MyHelpFile.
    void DataModuleCreate();
    // Help event handler (services/Help.h): command 0 with data 0 shows the
    // help file's contents, command 1 the topic page Data; CallHelp is always
    // set false. True when a help window shows what was asked.
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
    // Whether the day and month of Dt are listed in HLDTAB (services/Holidays.h).
    bool CheckHol(TDateTime Dt);

    // Key generators (services/KeyGenerators.h): the next value of generator
    // NGen of the working-time (GetGen) or access-control (GetGenK) database.
    int GetGen(const std::string& NGen);
    int GetGenK(const std::string& NGen);
    // One statement in a transaction of its own (services/SqlStatement.h).
    bool DoSQLUrv(const std::string& S);
    bool DoSQLGremond(const std::string& S);

    // Department structure of the working-time database (services/DepartmentTree.h).
    void BuildTree(platform::TreeView& TreeDep, bool FAll, const std::string& ListDep);
    std::string FindDepChild(int CDep);
    std::string FindDepParents(int CDep);
    std::string FindDep(int CD);
    std::string FindJob(int CJ);

    // Personnel synchronisation with the access-control database (services/PersonnelSync.h).
    int FindUserID(bool FOur, const std::string& TabN);
    bool ChAlien(int TP);
    void ChDepInCM(const std::string& Dep, int UID, bool FOur);
    void ChJobInCM(const std::string& Job, int UID, bool FOur);

private:
    platform::HelpViewer* helpViewer_ = nullptr;
    services::TDepartmentTree departments_{FDconUrv, {QDepByCod, QFindDep, QDepChild, QDepParents, QFDep, QFJob}};
    services::TPersonnelSync personnel_{
        {FDconGremond, FDTrGremondQ, QF_UID, QF_ID, QIdTp, QFDepK, QInsDepK, QFJobK, QInsJobK, QFOrgK, pGenK, QTmpK},
        urvDB,
        gremondDB};
};

// The single data module, set by start-up.
extern TMainDM* MainDM;
// Full path of the help file "Tavrel.chm" beside the executable (8-bit, ANSI).
extern std::string MyHelpFile;
