#include "services/Holidays.h"

namespace services {

bool IsHoliday(TDbQuery& QHld, TDateTime Dt)
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

} // namespace services
