#include "Startup.h"

#include "ProcessVariables.h"
#include "datamodule/MDm.h"
#include "db/SettingsFile.h"
#include "platform/FileOps.h"
#include "platform/TextCodec.h"

std::string withHttpScheme(const std::string& location)
{
    // Case-sensitive on purpose: "HTTP://..." gets the scheme in front too.
    if (location.size() >= 4 && location.compare(0, 4, "http") == 0)
        return location;
    return "http://" + location;
}

DownloadLimits readDownloadLimits()
{
    DownloadLimits limits;
    const int maxMebibytes = UserIniFile ? UserIniFile->ReadInteger(kDownloadSection, kMaxDownloadKey, 0) : 0;
    if (maxMebibytes > 0)
        limits.maxBytes = static_cast<std::uint64_t>(maxMebibytes) << 20;
    return limits;
}

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
    // Both ways through the ANSI code page, as every 8-bit path of the program.
    setup.programFolder = platform::fromPath(programFolder / "");
    setup.http = http;
    setup.settingsFile = platform::toPath(setup.programFolder + kSettingsFileName);
    return setup;
}

std::optional<UpdateSource> startUp(TMainDM& dm, platform::Messages& messages,
                                    const std::filesystem::path& programFolder)
{
    // Other modules read the program folder and the settings from here.
    const UpdateSetup setup = updateSetup(programFolder, false);
    WorkDir = setup.programFolder;
    UserIniFile = std::make_unique<TSettingsFile>(setup.settingsFile);

    if (!dm.ConnectDB(dm.FDconUrv, "urv", "LoginU", urvDB)) {
        messages.error(u"Нет соединения с БД \"Tavrel\"! Проверьте секцию Login в ini-файле.");
        return std::nullopt;
    }
    UpdateSource source = readUpdateSource(dm);
    FHttp = source.http;
    if (dm.FDconUrv.DriverName == "FB" && dm.FDconUrv.Param("Server").empty())
        source.embeddedDatabase = platform::absolutePath(dm.FDconUrv.Param("Database"));
    dm.FDconUrv.Close();
    if (source.locationMissing)
        messages.error(kNoUpdateLocation);
    return source;
}
