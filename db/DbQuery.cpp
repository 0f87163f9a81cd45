#include "db/DbQuery.h"

#include "platform/TextCodec.h"

#include <QSqlError>
#include <QSqlRecord>

std::string TDbField::AsString() const
{
    if (value_.isNull())
        return {};
    return platform::utf16ToAnsi(value_.toString().toStdU16String());
}

void TDbQuery::Open()
{
    if (Active())
        return;
    if (!Connection.Connected())
        throw TDbError("The connection is not open");
    auto query = std::make_unique<QSqlQuery>(Connection.Database());
    query->setForwardOnly(true);
    if (!query->exec(QString::fromStdU16String(platform::ansiToUtf16(SQL)))) {
        const std::string text = query->lastError().text().toStdString();
        throw TDbError(text.empty() ? "The query failed: " + SQL : text);
    }
    onRow_ = query->isSelect() && query->next();
    query_ = std::move(query);
}

void TDbQuery::Close()
{
    query_.reset();
    onRow_ = false;
}

void TDbQuery::Next()
{
    if (query_ && onRow_)
        onRow_ = query_->next();
}

TDbField TDbQuery::FieldByName(const std::string& Name) const
{
    if (!query_)
        throw TDbError("The query is not open");
    const QSqlRecord record = query_->record();
    const int index = record.indexOf(QString::fromStdU16String(platform::ansiToUtf16(Name)));
    if (index < 0)
        throw TDbError("Field '" + Name + "' not found");
    return TDbField(onRow_ ? query_->value(index) : QVariant());
}
