#pragma once
// Process-wide variables of the updater, set once at start-up and then only read.
#include <string>

// Folder of the running executable, ending in a path separator (8-bit, ANSI).
extern std::string WorkDir;

// Fetch mode: true downloads over HTTP, false copies a file from a path.
extern bool FHttp;
