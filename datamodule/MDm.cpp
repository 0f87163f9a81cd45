#include "datamodule/MDm.h"

#include "services/CalendarText.h"
#include "services/Help.h"
#include "services/Holidays.h"
#include "services/KeyGenerators.h"
#include "services/SqlStatement.h"

TMainDM* MainDM = nullptr;
std::string MyHelpFile;

TMainDM::TMainDM(platform::Messages& messages) : TDbModule(messages) { DataModuleCreate(); }

void TMainDM::DataModuleCreate() { MyHelpFile = services::HelpFileBesideExecutable(); }

bool TMainDM::HH(std::uint16_t Command, std::int32_t Data, bool& CallHelp)
{
    return services::ShowHelp(MyHelpFile, helpViewer_, Messages(), Command, Data, CallHelp);
}

std::string TMainDM::UkrMonth(int Num) const { return services::UkrMonth(Num); }
std::string TMainDM::RusMonth(int Num) const { return services::RusMonth(Num); }
std::u16string TMainDM::NameCol(int i) const { return services::NameCol(i); }
std::string TMainDM::DelForbidSimbol(const std::string& SN) const { return services::DelForbidSimbol(SN); }
std::int32_t TMainDM::Hex2Dec(const std::u16string& S) const { return services::Hex2Dec(S); }
std::uint16_t TMainDM::DayInMonth(std::uint16_t M, std::uint16_t Y) const { return services::DayInMonth(M, Y); }
TDateTime TMainDM::IdentDate(std::uint16_t NY, std::uint16_t NMes, std::uint16_t N) const
{
    return services::IdentDate(NY, NMes, N);
}
std::string TMainDM::MakeEven(const std::string& S, std::uint16_t N) const { return services::MakeEven(S, N); }
bool TMainDM::FindInStr(const std::string& S, const std::string& Num) const { return services::FindInStr(S, Num); }
void TMainDM::NormTBreak(TDateTime TDat, TDateTime DBegin, TDateTime& DN, TDateTime& DK) const
{
    services::NormTBreak(TDat, DBegin, DN, DK);
}
bool TMainDM::CheckHol(TDateTime Dt) { return services::IsHoliday(QHld, Dt); }

int TMainDM::GetGen(const std::string& NGen) { return services::NextGeneratorValue(urvDB, NGen, pGenU, QTmp); }
int TMainDM::GetGenK(const std::string& NGen) { return services::NextGeneratorValue(gremondDB, NGen, pGenK, QTmpK); }
bool TMainDM::DoSQLUrv(const std::string& S) { return services::RunStatement(FDconUrv, FDTrUrvQ, S, true); }
bool TMainDM::DoSQLGremond(const std::string& S)
{
    return services::RunStatement(FDconGremond, FDTrGremondQ, S, false);
}

void TMainDM::BuildTree(platform::TreeView& TreeDep, bool FAll, const std::string& ListDep)
{
    departments_.BuildTree(TreeDep, FAll, ListDep);
}
std::string TMainDM::FindDepChild(int CDep) { return departments_.FindDepChild(CDep); }
std::string TMainDM::FindDepParents(int CDep) { return departments_.FindDepParents(CDep); }
std::string TMainDM::FindDep(int CD) { return departments_.FindDep(CD); }
std::string TMainDM::FindJob(int CJ) { return departments_.FindJob(CJ); }

int TMainDM::FindUserID(bool FOur, const std::string& TabN) { return personnel_.FindUserID(FOur, TabN); }
bool TMainDM::ChAlien(int TP) { return personnel_.ChAlien(TP); }
void TMainDM::ChDepInCM(const std::string& Dep, int UID, bool FOur) { personnel_.ChDepInCM(Dep, UID, FOur); }
void TMainDM::ChJobInCM(const std::string& Job, int UID, bool FOur) { personnel_.ChJobInCM(Job, UID, FOur); }
