#pragma once
// A query with a fixed SQL text on one connection: open it, read fields of the
// current row by name, move on, close it.
#include "db/DbConnection.h"
#include "db/DbParam.h"
#include "db/DbTransaction.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <memory>
#include <string>
#include <vector>

class TDbField {
public:
    explicit TDbField(QVariant value) : value_(std::move(value)) {}
    // 8-bit text in the ANSI code page; NULL reads as empty.
    std::string AsString() const;
    bool IsNull() const { return value_.isNull(); }
    // Throws TDbError when the value is null or not a whole number.
    int AsInteger() const;
    const QVariant& Value() const { return value_; }

private:
    QVariant value_;
};

class TDbQuery {
public:
    TDbQuery(TDbConnection& connection, TDbTransaction* transaction, TDbTransaction* updateTransaction)
        : Connection(connection), Transaction(transaction), UpdateTransaction(updateTransaction)
    {}
    TDbQuery(TDbConnection& connection, TDbTransaction* transaction, TDbTransaction* updateTransaction, std::string sql)
        : Connection(connection), Transaction(transaction), UpdateTransaction(updateTransaction), SQL(std::move(sql))
    {}

    TDbConnection& Connection;
    TDbTransaction* Transaction;
    TDbTransaction* UpdateTransaction;
    std::string SQL;

    // Runs SQL and stands on the first row. Throws TDbError with the database's text.
    void Open();
    void Close();
    bool Active() const { return query_ != nullptr; }
    // True when the query stands after the last row (at once for an empty result).
    bool Eof() const { return !onRow_; }
    void Next();

    // A field of the current row; NULL when the result is empty. Throws
    // TDbError when the result has no such column.
    TDbField FieldByName(const std::string& Name) const;

    // The named parameters of SQL (":pCod"), in order of first appearance;
    // values set before a change of SQL stay with their names. ParamByName
    // and Param throw TDbError for a parameter the text does not have.
    std::vector<TDbParam>& Params();
    TDbParam& ParamByName(const std::string& Name);
    TDbParam& Param(size_t Position);

private:
    std::vector<TDbParam> params_;
    std::string paramsSql_;
    std::unique_ptr<QSqlQuery> query_;
    // The columns of the result, read once per Open: building the record
    // for every field read cost more than reading the rows.
    QSqlRecord record_;
    // Per column: fixed-length text, read without its padding blanks.
    std::vector<bool> fixedLength_;
    bool onRow_ = false;
};
