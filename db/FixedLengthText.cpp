#include "db/FixedLengthText.h"

namespace {

// Firebird's SQL_TEXT; the driver reports the type with the nullable flag in its lowest bit.
constexpr int kFirebirdText = 452;
// ODBC's SQL_CHAR and SQL_WCHAR, as SQL Server's CHAR and NCHAR arrive through FreeTDS.
constexpr int kOdbcChar = 1;
constexpr int kOdbcWideChar = -8;

} // namespace

bool isFixedLengthText(const QSqlField& field, const QString& qtDriver)
{
    const int type = field.typeID();
    if (qtDriver == QLatin1String("QIBASE"))
        return (type & ~1) == kFirebirdText;
    if (qtDriver == QLatin1String("QODBC"))
        return type == kOdbcChar || type == kOdbcWideChar;
    return false;
}

QVariant withoutTrailingBlanks(const QVariant& value)
{
    if (value.isNull() || value.typeId() != QMetaType::QString)
        return value;
    QString text = value.toString();
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    text.truncate(end);
    return text;
}
