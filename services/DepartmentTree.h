#pragma once
// The department structure of the working-time database: the tree of
// departments, the codes below and above a department, and short names.
#include "db/DbConnection.h"
#include "db/DbQuery.h"
#include "platform/TreeView.h"

#include <string>

namespace services {

// The queries of the working-time database that the department structure reads.
struct DepartmentQueries {
    TDbQuery& QDepByCod;
    TDbQuery& QFindDep;
    TDbQuery& QDepChild;
    TDbQuery& QDepParents;
    TDbQuery& QFDep;
    TDbQuery& QFJob;
};

class TDepartmentTree {
public:
    // `urv` is the working-time database's connection; STRUCTURE is read
    // through queries of its own on it.
    TDepartmentTree(TDbConnection& urv, DepartmentQueries queries) : urv_(urv), q_(queries) {}

    // Refills TreeDep with the departments, each node's image index holding
    // its code: the whole hierarchy (FAll) or the branches below the codes of
    // ListDep ("5,7"), skipping items that fail. Database errors of the whole
    // hierarchy reach the caller.
    void BuildTree(platform::TreeView& TreeDep, bool FAll, const std::string& ListDep);
    // CDep and the codes of its descendants ("5,7,9"); a QDepChild the caller
    // left open is walked as it stands.
    std::string FindDepChild(int CDep);
    // The codes of CDep's ancestors, nearest first, ending with the parent
    // value that stops the walk ("12,3,0"); a cycle ends where it closes.
    std::string FindDepParents(int CDep);
    // Short name of a department or job; empty when there is none.
    std::string FindDep(int CD);
    std::string FindJob(int CJ);

private:
    TDbConnection& urv_;
    DepartmentQueries q_;
};

} // namespace services
