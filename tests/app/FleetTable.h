#pragma once
// The fleet status table exactly as the README's section "Fleet status"
// tells administrators to create it.
#include "tests/support/TempDir.h"

#include <stdexcept>
#include <string>

inline std::string readmeFleetTable()
{
    const std::string readme = testsupport::readFileBytes(TAVREL_README);
    const auto start = readme.find("create table TAVREL_FLEET");
    const auto end = readme.find("\n);", start);
    if (start == std::string::npos || end == std::string::npos)
        throw std::runtime_error("README.md has no create table TAVREL_FLEET");
    return readme.substr(start, end + 2 - start);
}
