#include "ProcessVariables.h"

std::string WorkDir;
bool FHttp = false;
