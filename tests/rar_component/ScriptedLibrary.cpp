#include "ScriptedLibrary.h"

#include <stdexcept>

ScriptedLibrary::ScriptedLibrary(std::string path) : path_(std::move(path))
{
    module_ = platform::loadLibrary(path_);
    if (module_ == 0)
        throw std::runtime_error("cannot load " + path_);
    load_ = reinterpret_cast<ScriptedUnrarLoadFn>(platform::findSymbol(module_, "ScriptedUnrarLoad"));
    log_ = reinterpret_cast<ScriptedUnrarLogFn>(platform::findSymbol(module_, "ScriptedUnrarLog"));
    if (!load_ || !log_)
        throw std::runtime_error("not a scripted library: " + path_);
    play({});
}

ScriptedLibrary::~ScriptedLibrary() { platform::releaseLibrary(module_); }

void ScriptedLibrary::play(const scripted::Script& script) { load_(&script); }

const scripted::Log& ScriptedLibrary::log() const { return *log_(); }
