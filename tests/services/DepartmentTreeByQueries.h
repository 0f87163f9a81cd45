#pragma once
// The department tree and the codes below a department read the slow way:
// one query per parent node through the data module's queries and queries
// made per level, and the departments the hierarchy does not reach found by
// comparing each with every node. The equivalence test holds the data
// module's operations to the same results; the benchmark times both.
#include "datamodule/MDm.h"
#include "platform/TreeView.h"

#include <string>

namespace servicestest {

void BuildTreeByQueries(TMainDM& dm, platform::TreeView& TreeDep, bool FAll, const std::string& ListDep);
std::string FindDepChildByQueries(TMainDM& dm, int CDep);

} // namespace servicestest
