#pragma once
// Test-side handle on a scripted stand-in library: loads the same library
// file the component loads, so both share one script and one log.
#include "tests/rar_component/scripted/ScriptedUnrar.h"

#include "platform/DynamicLibrary.h"

#include <string>

class ScriptedLibrary {
public:
    explicit ScriptedLibrary(std::string path);
    ~ScriptedLibrary();
    ScriptedLibrary(const ScriptedLibrary&) = delete;
    ScriptedLibrary& operator=(const ScriptedLibrary&) = delete;

    const std::string& path() const { return path_; }
    void play(const scripted::Script& script);
    const scripted::Log& log() const;

private:
    std::string path_;
    platform::ModuleHandle module_ = 0;
    ScriptedUnrarLoadFn load_ = nullptr;
    ScriptedUnrarLogFn log_ = nullptr;
};
