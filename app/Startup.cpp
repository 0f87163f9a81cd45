#include "Startup.h"

#include "ProcessVariables.h"
#include "datamodule/MDm.h"
#include "db/SettingsFile.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"
#include "platform/UrlEncoding.h"
#include "update/SettingsNumber.h"

std::string withHttpScheme(const std::string& location)
{
    // Case-sensitive on purpose: "HTTP://..." gets the scheme in front too.
    if (location.size() >= 4 && location.compare(0, 4, "http") == 0)
        return location;
    // Another scheme ("file:///...") stays, so that the fetch can refuse it
    // by name instead of looking up a host called "file".
    const std::string scheme = platform::urlScheme(location);
    if (!scheme.empty() && scheme != "http" && scheme != "https")
        return location;
    return "http://" + location;
}

DownloadLimits readDownloadLimits()
{
    DownloadLimits limits;
    if (!UserIniFile)
        return limits;
    // The cap in bytes must fit 64 bits.
    const auto maxMebibytes = readWholeNumber(UserIniFile->profile(), kDownloadSection, kMaxDownloadKey, ~0ull >> 20,
                                              "мегабайт; 0 — без ограничения");
    if (maxMebibytes && *maxMebibytes > 0)
        limits.maxBytes = *maxMebibytes << 20;
    return limits;
}

namespace {

// Where to look after a failed connection: a missing section or database
// file is named as such, not left to show up as an empty file name.
std::u16string connectionAdvice(const TSettingsFile& settings)
{
    const std::u16string file = platform::displayPath(settings.FileName());
    const std::u16string section = u"[" + platform::toUtf16(kLoginSection) + u"]";
    const std::string missing = "\n"; // no value of the file can hold a line break
    bool anyKey = false;
    for (const char* key : {"DB", "Server", "Database", "UserName", "Password"})
        anyKey = anyKey || settings.ReadString(kLoginSection, key, missing) != missing;
    if (!anyKey)
        return u"В файле настроек " + file + u" нет раздела " + section + u" с параметрами подключения.";
    if (settings.ReadString(kLoginSection, "Database", "").empty())
        return u"В разделе " + section + u" файла настроек " + file + u" не указана база данных (ключ Database).";
    return u"Проверьте раздел " + section + u" файла настроек " + file + u".";
}

} // namespace

UpdateSource readUpdateSource(TMainDM& dm)
{
    UpdateSource source;
    dm.QParam.Open();
    // No row reads as NULL fields.
    source.location = dm.QParam.FieldByName("NEWVERSIONPASS").AsString();
    const std::string doUpdate = dm.QParam.FieldByName("DOUPDATE").AsString();
    dm.QParam.Close();
    source.locationMissing = source.location.find_first_not_of(' ') == std::string::npos;
    // Exactly "1": no trimming, " 1" and "01" mean copy mode.
    if (doUpdate == "1") {
        source.http = true;
        source.location = withHttpScheme(source.location);
    }
    return source;
}

UpdateSetup updateSetup(const std::filesystem::path& programFolder, bool http)
{
    UpdateSetup setup;
    setup.programFolder = programFolder;
    setup.http = http;
    setup.settingsFile = programFolder / kSettingsFileName;
    return setup;
}

bool connectWorkingDatabase(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder)
{
    // Other modules read the program folder and the settings from here.
    const UpdateSetup setup = updateSetup(programFolder, false);
    WorkDir = platform::fromPath(programFolder / "");
    UserIniFile = std::make_unique<TSettingsFile>(setup.settingsFile);

    if (!dm.ConnectDB(dm.FDconUrv, "urv", kLoginSection, urvDB)) {
        messages.error(u"Нет соединения с БД \"Tavrel\"! " + connectionAdvice(*UserIniFile));
        return false;
    }
    return true;
}

std::optional<UpdateSource> startUp(TMainDM& dm, platform::Messages& messages,
                                    const std::filesystem::path& programFolder)
{
    if (!connectWorkingDatabase(dm, messages, programFolder))
        return std::nullopt;
    UpdateSource source = readUpdateSource(dm);
    FHttp = source.http;
    if (dm.FDconUrv.DriverName == "FB" && dm.FDconUrv.Param("Server").empty())
        source.embeddedDatabase = platform::absolutePath(dm.FDconUrv.Param("Database"));
    dm.FDconUrv.Close();
    if (source.locationMissing)
        messages.error(kNoUpdateLocation);
    return source;
}
