#include "tests/support/ChildProcess.h"

#include "tests/support/TempDir.h"

namespace testsupport {

void ChildProcess::readOutput(ChildResult& result) const
{
    if (!start_.out.empty())
        result.out = readFileBytes(start_.out);
    if (!start_.err.empty())
        result.err = readFileBytes(start_.err);
}

} // namespace testsupport
