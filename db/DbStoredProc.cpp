#include "db/DbStoredProc.h"

#include "db/FixedLengthText.h"
#include "platform/TextCodec.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

bool isInput(const TDbParam& p)
{
    return p.ParamType == TDbParamDirection::Input || p.ParamType == TDbParamDirection::InputOutput;
}

bool returnsValue(const TDbParam& p) { return p.ParamType != TDbParamDirection::Input; }

std::string questionMarks(size_t count)
{
    std::string marks;
    for (size_t i = 0; i < count; ++i)
        marks += i == 0 ? "?" : ", ?";
    return marks;
}

QString bareName(const std::string& name)
{
    QString text = QString::fromStdString(name);
    if (text.startsWith(QLatin1Char('@')))
        text.remove(0, 1);
    return text;
}

// Firebird gives a procedure's outputs as one row: each column goes to the
// parameter of its name, the others in order to the outputs not yet filled.
void takeOutputRow(QSqlQuery& query, const QString& qtDriver, std::vector<TDbParam>& params)
{
    if (!query.next())
        return;
    const QSqlRecord record = query.record();
    const auto valueOf = [&](int column) {
        const QVariant value = query.value(column);
        return isFixedLengthText(record.field(column), qtDriver) ? withoutTrailingBlanks(value) : value;
    };
    std::vector<bool> filled(params.size(), false);
    std::vector<bool> used(static_cast<size_t>(record.count()), false);
    for (int column = 0; column < record.count(); ++column) {
        for (size_t i = 0; i < params.size(); ++i) {
            if (!filled[i] && returnsValue(params[i]) &&
                bareName(params[i].Name).compare(record.fieldName(column), Qt::CaseInsensitive) == 0) {
                params[i].Value = valueOf(column);
                filled[i] = used[static_cast<size_t>(column)] = true;
                break;
            }
        }
    }
    size_t next = 0;
    for (int column = 0; column < record.count(); ++column) {
        if (used[static_cast<size_t>(column)])
            continue;
        while (next < params.size() && (filled[next] || params[next].ParamType == TDbParamDirection::Input ||
                                        params[next].ParamType == TDbParamDirection::Result))
            ++next;
        if (next == params.size())
            break;
        params[next].Value = valueOf(column);
        filled[next++] = true;
    }
}

} // namespace

std::string storedProcCallText(const std::string& driverId, const std::string& name,
                               const std::vector<TDbParam>& params)
{
    if (driverId == "FB") {
        size_t inputs = 0;
        for (const TDbParam& p : params)
            inputs += isInput(p) ? 1 : 0;
        return "execute procedure " + name + (inputs ? "(" + questionMarks(inputs) + ")" : "");
    }
    const bool hasResult = !params.empty() && params.front().ParamType == TDbParamDirection::Result;
    const std::string arguments = questionMarks(params.size() - (hasResult ? 1 : 0));
    if (driverId == "Ora")
        return std::string("begin ") + (hasResult ? "? := " : "") + name + "(" + arguments + "); end;";
    return std::string("{") + (hasResult ? "? = " : "") + "call " + name + "(" + arguments + ")}";
}

TDbParam& TDbStoredProc::Param(size_t position)
{
    if (position >= Params.size())
        throw TDbError("Stored procedure " + StoredProcName + " has no parameter " + std::to_string(position));
    return Params[position];
}

TDbParam& TDbStoredProc::ParamByName(const std::string& name)
{
    for (TDbParam& p : Params)
        if (QString::fromStdString(p.Name).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
            return p;
    throw TDbError("Stored procedure " + StoredProcName + " has no parameter '" + name + "'");
}

void TDbStoredProc::ExecProc()
{
    if (!Connection.Connected())
        throw TDbError("The connection is not open");
    TWaitCursorScope busy(Connection.WaitCursor);
    TDbStatement statement{storedProcCallText(Connection.DriverName, StoredProcName, Params), StoredProcName, Params};
    if (Connection.OnStatement)
        Connection.OnStatement(statement);

    const bool firebird = Connection.DriverName == "FB";
    QSqlQuery query(Connection.Database());
    if (!query.prepare(QString::fromStdU16String(platform::ansiToUtf16(statement.SQL))))
        throw TDbError(query.lastError().text().toStdString());
    for (const TDbParam& p : statement.Params) {
        if (firebird) {
            if (isInput(p))
                query.addBindValue(p.Value);
            continue;
        }
        const QSql::ParamType type = p.ParamType == TDbParamDirection::Input         ? QSql::In
                                     : p.ParamType == TDbParamDirection::InputOutput ? QSql::InOut
                                                                                     : QSql::Out;
        // An output without a value still needs a type for the driver to bind it.
        const QVariant value = p.Value.isValid() || type == QSql::In ? p.Value : QVariant(QMetaType(QMetaType::Int));
        query.addBindValue(value, type);
    }
    if (!query.exec()) {
        const std::string text = query.lastError().text().toStdString();
        throw TDbError(text.empty() ? "Stored procedure " + StoredProcName + " failed" : text);
    }
    if (firebird) {
        takeOutputRow(query, Connection.Database().driverName(), statement.Params);
    } else {
        for (size_t i = 0; i < statement.Params.size(); ++i)
            if (returnsValue(statement.Params[i]))
                statement.Params[i].Value = query.boundValue(static_cast<int>(i));
    }
    Params = std::move(statement.Params);
}
