// Key generators and one-statement execution on either database, in the
// SQL form of the database system its driver identifier names.
#include "db/MDm.h"

namespace {

// Clears the scratch query's text on every way out, so that a text left by
// a failed call never reaches the next one. Changing the text closes the
// query first: Open keeps an open query as it stands, so rows a caller left
// open would otherwise answer for the generator.
class ScratchText {
public:
    explicit ScratchText(TDbQuery& query) : query_(query)
    {
        query_.Close();
        query_.SQL.clear();
    }
    ~ScratchText()
    {
        query_.Close();
        query_.SQL.clear();
    }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;

private:
    TDbQuery& query_;
};

int nextGeneratorValue(const std::string& driverId, const std::string& NGen, TDbStoredProc& proc, TDbQuery& scratch)
{
    if (driverId == "MSSQL") {
        proc.Param(1).SetString(NGen);
        proc.Param(2).SetInteger(0);
        proc.ExecProc();
        return proc.Param(2).AsInteger();
    }
    ScratchText text(scratch);
    // The name is pasted as it stands: it must be a bare identifier of the database.
    if (driverId == "FB")
        scratch.SQL = "select GEN_ID(" + NGen + ", 1) NV from RDB$DATABASE";
    else if (driverId == "Ora")
        scratch.SQL = "select " + NGen + ".Nextval NV from DUAL";
    else
        return 0;
    scratch.Open();
    return scratch.FieldByName("NV").AsInteger();
}

// Commits what is pending on the update transaction, then runs S in a
// transaction of its own. `checkBeforeCommit` false commits without asking
// whether the transaction is still active, so a failing commit counts as a
// failed statement.
bool runStatement(TDbConnection& connection, TDbTransaction& transaction, const std::string& S,
                  bool checkBeforeCommit)
{
    try {
        // Inside the guard too: a failing commit of pending work must not
        // escape a call that promises to report failure only as false.
        if (transaction.Active())
            transaction.Commit();
        transaction.StartTransaction();
        connection.ExecSQL(S);
        if (!checkBeforeCommit || transaction.Active())
            transaction.Commit();
        return true;
    } catch (...) {
        try {
            if (transaction.Active())
                transaction.Rollback();
        } catch (...) {
            // The statement has already failed; a failed rollback adds nothing to report.
        }
        return false;
    }
}

} // namespace

int TMainDM::GetGen(const std::string& NGen) { return nextGeneratorValue(urvDB, NGen, pGenU, QTmp); }

int TMainDM::GetGenK(const std::string& NGen) { return nextGeneratorValue(gremondDB, NGen, pGenK, QTmpK); }

bool TMainDM::DoSQLUrv(const std::string& S) { return runStatement(FDconUrv, FDTrUrvQ, S, true); }

bool TMainDM::DoSQLGremond(const std::string& S) { return runStatement(FDconGremond, FDTrGremondQ, S, false); }
