// Calendar and text utilities of the data module: the pure helpers of
// CalendarText, and the holiday lookup.
#include "db/MDm.h"

#include "services/CalendarText.h"

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

bool TMainDM::CheckHol(TDateTime Dt)
{
    int year = 0;
    int month = 0;
    int day = 0;
    Dt.DecodeDate(year, month, day);
    QHld.ParamByName("pm").SetInteger(month);
    QHld.ParamByName("pd").SetInteger(day);
    QHld.Open();
    const bool holiday = !QHld.Eof();
    QHld.Close();
    return holiday;
}
