#pragma once
// Fixed-length text columns (CHAR, NCHAR) come back padded with blanks to
// their declared length. The query layer hands them out without the trailing
// blanks, as the product's database layer always did; variable-length text
// (VARCHAR) keeps every character as stored.
#include <QSqlField>
#include <QString>
#include <QVariant>

// True when `field`, described by the Qt Sql driver `qtDriver` ("QIBASE",
// "QODBC"), is fixed-length text.
bool isFixedLengthText(const QSqlField& field, const QString& qtDriver);

// `value` without trailing blanks when it is text; anything else unchanged.
QVariant withoutTrailingBlanks(const QVariant& value);
