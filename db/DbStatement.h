#pragma once
// What the database layer is about to hand to the database: the SQL text and
// its parameters. A connection passes every statement to its OnStatement hook
// first, so that a caller can log the statements or a test can check the SQL
// forms of database systems that have no server here.
#include "db/DbParam.h"

#include <functional>
#include <string>
#include <vector>

struct TDbStatement {
    std::string SQL;            // as written, named parameters included
    std::string StoredProcName; // set for stored-procedure calls
    std::vector<TDbParam> Params;
};

// May rewrite the statement before it runs; an exception stops it.
using TDbStatementHook = std::function<void(TDbStatement&)>;
