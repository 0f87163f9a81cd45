#pragma once
// Calendar and text helpers of the data module. Pure functions: no database,
// no widgets. 8-bit texts are in the system ANSI code page (UTF-8 on Linux).
#include "core/DateTime.h"

#include <cstdint>
#include <string>

namespace services {

// Month 1..12 in Ukrainian or Russian; any other number gives the error word.
std::string UkrMonth(int Num);
std::string RusMonth(int Num);

// Spreadsheet column name: 1 is A, 26 Z, 27 AA, 702 ZZ, 703 AAA and so on;
// empty for numbers below 1.
std::u16string NameCol(int i);

// SN without the characters a file name may not contain: | / \ : * ? " < >
std::string DelForbidSimbol(const std::string& SN);

// S read as hexadecimal ("$" is added in front unless S has one); 0 when it
// does not read. Values 80000000..FFFFFFFF are negative.
std::int32_t Hex2Dec(const std::u16string& S);

std::uint16_t DayInMonth(std::uint16_t M, std::uint16_t Y);

// The date NY-NMes-N; with NMes 0, day N of year NY. Throws EConvertError for
// a date that does not exist, also for a day number outside the year.
TDateTime IdentDate(std::uint16_t NY, std::uint16_t NMes, std::uint16_t N);

// S cut or filled with blanks to exactly N characters (N at most 255).
std::string MakeEven(const std::string& S, std::uint16_t N);

// Whether Num is an item of the comma-separated list S (exact, untrimmed).
bool FindInStr(const std::string& S, const std::string& Num);

// Puts the break DN..DK of a shift starting at DBegin onto the working day
// TDat, moving an end that falls before the start of the shift to the next day.
void NormTBreak(TDateTime TDat, TDateTime DBegin, TDateTime& DN, TDateTime& DK);

} // namespace services
