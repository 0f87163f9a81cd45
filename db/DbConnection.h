#pragma once
// A database connection configured like the product's: a driver identifier
// ("FB", "MSSQL", "Ora") and a list of name=value parameter lines. It maps
// them onto a Qt Sql driver when it opens (see DbConnection.cpp).
#include "db/DbStatement.h"

#include "db/WaitCursor.h"

#include <QSqlDatabase>

#include <stdexcept>
#include <string>
#include <vector>

// An error of the database layer, carrying the database's own text.
class TDbError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TDbConnection {
public:
    TDbConnection();
    ~TDbConnection();
    TDbConnection(const TDbConnection&) = delete;
    TDbConnection& operator=(const TDbConnection&) = delete;

    std::string DriverName;
    // Lines "Name=Value"; names match without regard to case.
    std::vector<std::string> Params;
    // Shown while this connection and its queries work; not owned, may be null.
    TWaitCursor* WaitCursor = nullptr;

    // Throws TDbError with the driver's text when the database refuses.
    void Open();
    void Close();
    bool Connected() const;

    // The parameter Name of the list (empty when absent).
    std::string Param(const std::string& Name) const;

    // The open Qt connection, for queries and transactions.
    QSqlDatabase Database() const;

    // Runs one statement directly, reading no result. Throws TDbError with the database's text.
    void ExecSQL(const std::string& SQL);

    // Sees every statement before it reaches the database (see DbStatement.h).
    TDbStatementHook OnStatement;

private:
    QString connectionName_;
};
