// Carries a person's department, organisation and job from the working-time
// database into the access-control database, matching them there by name.
#include "db/MDm.h"
#include "services/QueryScope.h"

#include <QDate>

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

// What differs between a department and a profession of the access-control database.
struct NamedKind {
    TDbQuery& Lookup;
    const char* KeyColumn;
    TDbQuery& Insert;
    const char* SqlServerGenerator;
    const char* PersonColumn;
};

// Finds `name` (or inserts it under a new key) and commits that, then points
// the person at it in a transaction of its own, so that a new department or
// profession stays even when the person's update fails.
void linkPersonByName(TMainDM& dm, const NamedKind& kind, const std::string& name, int UID)
{
    TDbTransaction& transaction = dm.FDTrGremondQ;
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
            // The generator goes by the working-time database's system;
            // GetGenK draws from it in the access-control database's form.
            key = dm.GetGenK(urvDB == "MSSQL" ? kind.SqlServerGenerator : "DJ_GEN");
            TQueryCloser closer(kind.Insert);
            kind.Insert.ParamByName("pCD").SetInteger(key);
            kind.Insert.ParamByName("pN").SetString(name);
            kind.Insert.ParamByName("pDt").Value = QDate::currentDate();
            kind.Insert.Open();
        }
        if (transaction.Active())
            transaction.Commit();
        if (key > 0)
            dm.DoSQLGremond(std::string("update PERSONNEL set ") + kind.PersonColumn + "=" + std::to_string(key) +
                            " where USER_ID=" + std::to_string(UID));
    } catch (const std::exception&) {
        rollbackQuietly(transaction);
    }
}

} // namespace

int TMainDM::FindUserID(bool FOur, const std::string& TabN)
{
    int result = -1;
    TDbQuery& query = FOur ? QF_UID : QF_ID;
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

bool TMainDM::ChAlien(int TP)
{
    try {
        TQueryCloser closer(QIdTp);
        QIdTp.Param(0).SetInteger(TP);
        QIdTp.Open();
        return QIdTp.FieldByName("INDICATION").AsString() == "1";
    } catch (const std::exception&) {
        // A type that cannot be checked is taken as alien.
        return true;
    }
}

void TMainDM::ChDepInCM(const std::string& Dep, int UID, bool FOur)
{
    if (FOur) {
        linkPersonByName(*this, {QFDepK, "CODE", QInsDepK, "GEN_DEP", "DEPARTMENT_ID"}, Dep, UID);
        return;
    }
    // Outside organisations are only looked up, never created.
    TQueryCloser closer(QFOrgK);
    setName(QFOrgK, Dep);
    QFOrgK.Open();
    if (!QFOrgK.Eof())
        DoSQLGremond("update PERSONNEL set ORG_ID=" + QFOrgK.FieldByName("ORG_ID").AsString() +
                     " where USER_ID=" + std::to_string(UID));
}

void TMainDM::ChJobInCM(const std::string& Job, int UID, bool FOur)
{
    if (FOur) {
        linkPersonByName(*this, {QFJobK, "PROFESSION_ID", QInsJobK, "GEN_JOB", "PROFESSION_ID"}, Job, UID);
        return;
    }
    // The free-text job goes as a parameter, so that any text, quotes
    // included, reaches JOB exactly. Like DoSQLGremond: pending work is
    // committed first, and a failure is rolled back and not passed on.
    try {
        if (FDTrGremondQ.Active())
            FDTrGremondQ.Commit();
        FDTrGremondQ.StartTransaction();
        TDbQuery update(FDconGremond, &FDTrGremondQ, &FDTrGremondQ,
                        "update PERSONNEL set JOB=:pJob where USER_ID=" + std::to_string(UID));
        TQueryCloser closer(update);
        update.ParamByName("pJob").SetString(Job);
        update.Open();
        FDTrGremondQ.Commit();
    } catch (const std::exception&) {
        rollbackQuietly(FDTrGremondQ);
    }
}
