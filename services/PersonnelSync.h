#pragma once
// Carries a person's department, organisation and job from the working-time
// database into the access-control database, matching them there by name.
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "db/DbStoredProc.h"
#include "db/DbTransaction.h"

#include <string>

namespace services {

// The access-control database as the synchronisation uses it: its
// connection and update transaction, the lookups and inserts of persons,
// departments, professions and organisations, and its key generator.
struct AccessControlDb {
    TDbConnection& FDconGremond;
    TDbTransaction& FDTrGremondQ;
    TDbQuery& QF_UID;
    TDbQuery& QF_ID;
    TDbQuery& QIdTp;
    TDbQuery& QFDepK;
    TDbQuery& QInsDepK;
    TDbQuery& QFJobK;
    TDbQuery& QInsJobK;
    TDbQuery& QFOrgK;
    TDbStoredProc& pGenK;
    TDbQuery& QTmpK;
};

class TPersonnelSync {
public:
    // The driver identifiers are read at each call: connecting fills them later.
    TPersonnelSync(AccessControlDb db, const std::string& urvDriver, const std::string& gremondDriver)
        : db_(db), urvDriver_(urvDriver), gremondDriver_(gremondDriver)
    {}

    // USER_ID of the person with personnel number TabN (FOur) or NUM TabN; -1 when none or on failure.
    int FindUserID(bool FOur, const std::string& TabN);
    // Whether person type TP is marked alien (INDICATION "1"); true on failure.
    bool ChAlien(int TP);
    // Points person UID at department Dep (FOur; created when missing) or at
    // the outside organisation Dep (only when it exists). Names match as given or trimmed.
    void ChDepInCM(const std::string& Dep, int UID, bool FOur);
    // Points person UID at profession Job (FOur; created when missing), or
    // sets the free-text JOB to Job exactly.
    void ChJobInCM(const std::string& Job, int UID, bool FOur);

private:
    struct NamedKind;
    void LinkPersonByName(const NamedKind& kind, const std::string& name, int UID);
    bool RunOnGremond(const std::string& S);

    AccessControlDb db_;
    const std::string& urvDriver_;
    const std::string& gremondDriver_;
};

} // namespace services
