#include "services/PersonnelSync.h"

#include "services/KeyGenerators.h"
#include "services/QueryScope.h"
#include "services/SqlStatement.h"

#include <QDate>

namespace services {

namespace {

// Without leading and trailing characters of code 32 and below.
std::string trimmed(const std::string& text)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && blank(text[first]))
        ++first;
    while (last > first && blank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

void setName(TDbQuery& lookup, const std::string& name)
{
    lookup.ParamByName("pNM").SetString(name);
    lookup.ParamByName("pN").SetString(trimmed(name));
}

void rollbackQuietly(TDbTransaction& transaction)
{
    try {
        if (transaction.Active())
            transaction.Rollback();
    } catch (const std::exception&) {
        // The call has failed already; a failed rollback adds nothing to report.
    }
}

} // namespace

// What differs between a department and a profession of the access-control database.
struct TPersonnelSync::NamedKind {
    TDbQuery& Lookup;
    const char* KeyColumn;
    TDbQuery& Insert;
    const char* SqlServerGenerator;
    const char* PersonColumn;
};

bool TPersonnelSync::RunOnGremond(const std::string& S)
{
    return RunStatement(db_.FDconGremond, db_.FDTrGremondQ, S, false);
}

// Finds `name` (or inserts it under a new key) and commits that, then points
// the person at it in a transaction of its own, so that a new department or
// profession stays even when the person's update fails.
void TPersonnelSync::LinkPersonByName(const NamedKind& kind, const std::string& name, int UID)
{
    TDbTransaction& transaction = db_.FDTrGremondQ;
    try {
        if (transaction.Active())
            transaction.Commit();
        transaction.StartTransaction();
        int key = 0;
        bool found = false;
        {
            TQueryCloser closer(kind.Lookup);
            setName(kind.Lookup, name);
            kind.Lookup.Open();
            found = !kind.Lookup.Eof();
            if (found)
                key = IntOrZero(kind.Lookup.FieldByName(kind.KeyColumn));
        }
        if (!found) {
            // The generator goes by the working-time database's system; it is
            // drawn in the access-control database's form.
            key = NextGeneratorValue(gremondDriver_, urvDriver_ == "MSSQL" ? kind.SqlServerGenerator : "DJ_GEN",
                                     db_.pGenK, db_.QTmpK);
            TQueryCloser closer(kind.Insert);
            kind.Insert.ParamByName("pCD").SetInteger(key);
            kind.Insert.ParamByName("pN").SetString(name);
            kind.Insert.ParamByName("pDt").Value = QDate::currentDate();
            kind.Insert.Open();
        }
        if (transaction.Active())
            transaction.Commit();
        if (key > 0)
            RunOnGremond(std::string("update PERSONNEL set ") + kind.PersonColumn + "=" + std::to_string(key) +
                         " where USER_ID=" + std::to_string(UID));
    } catch (const std::exception&) {
        rollbackQuietly(transaction);
    }
}

int TPersonnelSync::FindUserID(bool FOur, const std::string& TabN)
{
    int result = -1;
    TDbQuery& query = FOur ? db_.QF_UID : db_.QF_ID;
    try {
        TQueryCloser closer(query);
        query.Param(0).SetString(TabN);
        query.Open();
        if (!query.Eof())
            result = IntOrZero(query.FieldByName("USER_ID"));
    } catch (const std::exception&) {
    }
    return result;
}

bool TPersonnelSync::ChAlien(int TP)
{
    try {
        TQueryCloser closer(db_.QIdTp);
        db_.QIdTp.Param(0).SetInteger(TP);
        db_.QIdTp.Open();
        return db_.QIdTp.FieldByName("INDICATION").AsString() == "1";
    } catch (const std::exception&) {
        // A type that cannot be checked is taken as alien.
        return true;
    }
}

void TPersonnelSync::ChDepInCM(const std::string& Dep, int UID, bool FOur)
{
    if (FOur) {
        LinkPersonByName({db_.QFDepK, "CODE", db_.QInsDepK, "GEN_DEP", "DEPARTMENT_ID"}, Dep, UID);
        return;
    }
    // Outside organisations are only looked up, never created.
    TQueryCloser closer(db_.QFOrgK);
    setName(db_.QFOrgK, Dep);
    db_.QFOrgK.Open();
    if (!db_.QFOrgK.Eof())
        RunOnGremond("update PERSONNEL set ORG_ID=" + db_.QFOrgK.FieldByName("ORG_ID").AsString() +
                     " where USER_ID=" + std::to_string(UID));
}

void TPersonnelSync::ChJobInCM(const std::string& Job, int UID, bool FOur)
{
    if (FOur) {
        LinkPersonByName({db_.QFJobK, "PROFESSION_ID", db_.QInsJobK, "GEN_JOB", "PROFESSION_ID"}, Job, UID);
        return;
    }
    // The free-text job goes as a parameter, so that any text, quotes
    // included, reaches JOB exactly. Like RunOnGremond: pending work is
    // committed first, and a failure is rolled back and not passed on.
    try {
        if (db_.FDTrGremondQ.Active())
            db_.FDTrGremondQ.Commit();
        db_.FDTrGremondQ.StartTransaction();
        TDbQuery update(db_.FDconGremond, &db_.FDTrGremondQ, &db_.FDTrGremondQ,
                        "update PERSONNEL set JOB=:pJob where USER_ID=" + std::to_string(UID));
        TQueryCloser closer(update);
        update.ParamByName("pJob").SetString(Job);
        update.Open();
        db_.FDTrGremondQ.Commit();
    } catch (const std::exception&) {
        rollbackQuietly(db_.FDTrGremondQ);
    }
}

} // namespace services
