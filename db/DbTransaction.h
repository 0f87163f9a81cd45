#pragma once
// A transaction of a connection. Qt Sql keeps one transaction per
// connection, so the read and the update transaction of a connection share it.
#include "db/DbConnection.h"

class TDbTransaction {
public:
    explicit TDbTransaction(TDbConnection& connection) : Connection(connection) {}

    TDbConnection& Connection;

    bool Active() const { return active_; }
    // Each throws TDbError with the database's text.
    void StartTransaction();
    void Commit();
    void Rollback();

private:
    bool active_ = false;
};
