#include "db/DbTransaction.h"

#include <QSqlError>

namespace {
[[noreturn]] void fail(const QSqlDatabase& db, const char* what)
{
    const std::string text = db.lastError().text().toStdString();
    throw TDbError(text.empty() ? std::string(what) : text);
}
} // namespace

void TDbTransaction::StartTransaction()
{
    QSqlDatabase db = Connection.Database();
    if (!db.transaction())
        fail(db, "Cannot start a transaction");
    active_ = true;
}

void TDbTransaction::Commit()
{
    QSqlDatabase db = Connection.Database();
    active_ = false;
    if (!db.commit())
        fail(db, "Cannot commit the transaction");
}

void TDbTransaction::Rollback()
{
    QSqlDatabase db = Connection.Database();
    active_ = false;
    if (!db.rollback())
        fail(db, "Cannot roll the transaction back");
}
