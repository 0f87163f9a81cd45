#include "ReleaseSelfCheck.h"

#include "RAR_Component/RAR_DLL.h"
#include "platform/FileOps.h"
#include "platform/ProgramRun.h"
#include "platform/TextCodec.h"

#include <chrono>

namespace fs = std::filesystem;

namespace {

// The updater executables of a program folder: the command line and the dialog.
#ifdef _WIN32
const char* const kUpdaterExecutables[] = {"tavrel-update.exe", "tavrel-updater.exe"};
#else
const char* const kUpdaterExecutables[] = {"tavrel-update", "tavrel-updater"};
#endif

// A working updater answers at once; one that hangs must not hold the update.
constexpr std::chrono::seconds kVersionTimeLimit{20};

bool isPresent(const fs::path& path)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

std::u16string systemText(const std::string& text)
{
    // The first line is the reason; a loader's or a crash's text may run on.
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return platform::ansiToUtf16(line);
}

std::optional<std::u16string> libraryProblem(const fs::path& library)
{
    std::string whyNot;
    // By its path in the staging area: a bare name would find the library
    // this process already has loaded.
    const platform::ModuleHandle module = platform::loadLibrary(platform::fromPath(library), whyNot);
    if (module == 0)
        return u"библиотека UnRAR не загружается (" + systemText(whyNot) + u")";
    const RAR_DLL::EntryPoints entries = RAR_DLL::lookUpEntryPoints(module);
    const bool complete = entries.complete();
    const int version = complete ? entries.RARGetDllVersion() : 0;
    platform::releaseLibrary(module);
    if (!complete)
        return std::u16string(u"библиотека UnRAR загружается, но в ней нет всех функций интерфейса UnRAR");
    if (version < MIN_RAR_VERSION)
        return u"библиотека UnRAR сообщает версию интерфейса " + platform::toUtf16(std::to_string(version)) +
               u", нужна не ниже " + platform::toUtf16(std::to_string(MIN_RAR_VERSION));
    return std::nullopt;
}

std::optional<std::u16string> updaterProblem(const fs::path& executable)
{
    const platform::ProgramResult result =
        platform::runProgram(platform::fromPath(executable), {"--version"}, kVersionTimeLimit);
    if (result.exitCode == 0)
        return std::nullopt;
    std::u16string cause = u"программа обновления не запускается";
    if (result.exitCode)
        cause += u" (код завершения " + platform::toUtf16(std::to_string(*result.exitCode));
    else
        cause += u" (";
    const std::u16string detail = systemText(result.problem);
    if (!detail.empty())
        cause += (result.exitCode ? u": " : u"") + detail;
    return cause + u")";
}

} // namespace

std::optional<BrokenPart> findBrokenUpdaterPart(const fs::path& staging, const std::string& libraryName)
{
    const fs::path library = fs::path(platform::toPath(libraryName)).filename();
    if (!library.empty() && isPresent(staging / library)) {
        if (auto problem = libraryProblem(staging / library))
            return BrokenPart{library, std::move(*problem)};
    }
    for (const char* name : kUpdaterExecutables) {
        if (!isPresent(staging / name))
            continue;
        if (auto problem = updaterProblem(staging / name))
            return BrokenPart{name, std::move(*problem)};
    }
    return std::nullopt;
}

std::u16string brokenUpdaterMessage(const BrokenPart& broken, const std::u16string& shownArchive)
{
    return u"Обновление из архива " + shownArchive + u" не установлено: " +
           platform::ansiToUtf16(broken.entry.generic_string()) + u" из него не работает — " + broken.cause +
           u". Иначе следующие обновления стали бы невозможны; программа осталась прежней.";
}
