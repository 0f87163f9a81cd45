#include "db/DbQuery.h"

#include "db/FixedLengthText.h"
#include "platform/TextCodec.h"

#include <QSqlError>
#include <QSqlRecord>

std::string TDbField::AsString() const
{
    if (value_.isNull())
        return {};
    return platform::utf16ToAnsi(value_.toString().toStdU16String());
}

int TDbField::AsInteger() const
{
    if (value_.isNull())
        throw TDbError("The field is null, not an integer");
    bool ok = false;
    const int value = value_.toInt(&ok);
    if (!ok)
        throw TDbError("The field is not an integer");
    return value;
}

void TDbQuery::Open()
{
    if (Active())
        return;
    if (!Connection.Connected())
        throw TDbError("The connection is not open");
    TWaitCursorScope busy(Connection.WaitCursor);
    TDbStatement statement{SQL, {}, Params()};
    if (Connection.OnStatement)
        Connection.OnStatement(statement);
    auto query = std::make_unique<QSqlQuery>(Connection.Database());
    query->setForwardOnly(true);
    bool ran = false;
    if (statement.Params.empty()) {
        ran = query->exec(QString::fromStdU16String(platform::ansiToUtf16(statement.SQL)));
    } else {
        // Named parameters become positional ones here, so that a name used
        // twice binds twice whatever the driver supports.
        std::vector<std::string> occurrences;
        const std::string positional = sqlPositional(statement.SQL, occurrences);
        ran = query->prepare(QString::fromStdU16String(platform::ansiToUtf16(positional)));
        for (size_t i = 0; ran && i < occurrences.size(); ++i) {
            const TDbParam* bound = nullptr;
            for (const TDbParam& p : statement.Params)
                if (QString::fromStdString(p.Name).compare(QString::fromStdString(occurrences[i]),
                                                           Qt::CaseInsensitive) == 0)
                    bound = &p;
            query->addBindValue(bound ? bound->Value : QVariant());
        }
        ran = ran && query->exec();
    }
    if (!ran) {
        const std::string text = query->lastError().text().toStdString();
        throw TDbError(text.empty() ? "The query failed: " + statement.SQL : text);
    }
    onRow_ = query->isSelect() && query->next();
    record_ = query->record();
    const QString driver = Connection.Database().driverName();
    fixedLength_.assign(static_cast<size_t>(record_.count()), false);
    for (int i = 0; i < record_.count(); ++i)
        fixedLength_[static_cast<size_t>(i)] = isFixedLengthText(record_.field(i), driver);
    query_ = std::move(query);
}

void TDbQuery::Close()
{
    query_.reset();
    record_.clear();
    fixedLength_.clear();
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
    const int index = record_.indexOf(QString::fromStdU16String(platform::ansiToUtf16(Name)));
    if (index < 0)
        throw TDbError("Field '" + Name + "' not found");
    if (!onRow_)
        return TDbField(QVariant());
    const QVariant value = query_->value(index);
    return TDbField(fixedLength_[static_cast<size_t>(index)] ? withoutTrailingBlanks(value) : value);
}

std::vector<TDbParam>& TDbQuery::Params()
{
    if (paramsSql_ != SQL) {
        std::vector<TDbParam> rebuilt;
        for (const std::string& name : sqlParamNames(SQL)) {
            rebuilt.emplace_back(name);
            for (const TDbParam& old : params_)
                if (QString::fromStdString(old.Name).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
                    rebuilt.back().Value = old.Value;
        }
        params_ = std::move(rebuilt);
        paramsSql_ = SQL;
    }
    return params_;
}

TDbParam& TDbQuery::ParamByName(const std::string& Name)
{
    for (TDbParam& p : Params())
        if (QString::fromStdString(p.Name).compare(QString::fromStdString(Name), Qt::CaseInsensitive) == 0)
            return p;
    throw TDbError("Parameter '" + Name + "' not found");
}

TDbParam& TDbQuery::Param(size_t Position)
{
    std::vector<TDbParam>& params = Params();
    if (Position >= params.size())
        throw TDbError("Parameter " + std::to_string(Position) + " not found");
    return params[Position];
}
