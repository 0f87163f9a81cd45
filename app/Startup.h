#pragma once
// What the update dialog does when it is created, apart from its widgets:
// find the program folder, open the settings file, connect to the
// working-time database and read where releases are published.
#include "platform/Messages.h"
#include "update/DownloadLimits.h"
#include "update/UpdateSetup.h"

#include <filesystem>
#include <optional>
#include <string>

class TMainDM;

struct UpdateSource {
    std::string location; // path of the release archive, or its URL
    bool http = false;    // fetch over HTTP instead of copying a file
    // The parameter table names no location (no row, NULL, empty or blanks).
    bool locationMissing = false;
    // The database file the embedded engine opened (absolute, 8-bit); empty
    // for a database server. A release never replaces it.
    std::string embeddedDatabase;
};

// Shown when the parameter table names no update location.
inline constexpr const char16_t* kNoUpdateLocation =
    u"Путь к обновлению не указан! Проверьте поле NEWVERSIONPASS таблицы TAVREL_PARAMS.";

// Section of the settings file that describes the working-time database.
inline constexpr const char* kLoginSection = "LoginU";

// The "http://" rule of the HTTP mode: a location whose first four characters
// are not exactly "http" gets the scheme in front, unless it names another
// scheme ("file://", "ftp://"), which the download then refuses.
std::string withHttpScheme(const std::string& location);

// The download limits with the size cap of the settings file UserIniFile.
// A cap that is no whole number of MiB throws MalformedSetting.
DownloadLimits readDownloadLimits();

// What the update run of the program in `programFolder` is handed: the folder
// as WorkDir holds it, the fetch mode, and the settings file beside the program.
UpdateSetup updateSetup(const std::filesystem::path& programFolder, bool http);

// Reads the fetch mode and location from the first row of the product
// parameter table. Throws on a database error (missing table or column).
UpdateSource readUpdateSource(TMainDM& dm);

// Sets WorkDir and UserIniFile for the program folder `programFolder` and
// connects FDconUrv from section "LoginU"; false after the user was told
// why not (the connection dialog first, when one is set).
bool connectWorkingDatabase(TMainDM& dm, platform::Messages& messages, const std::filesystem::path& programFolder);

// connectWorkingDatabase, then reads the update source; sets
// FHttp, and closes the connection again: the update needs nothing more from
// the database, and an open embedded database would wait at its close for
// the whole unpacked release to reach the disk. A missing location is
// reported (kNoUpdateLocation) and returned with locationMissing set.
// Returns nothing when connecting failed for good: the user has been told
// and the program must end. Database errors while reading the parameter
// table escape as exceptions (FHttp then stays false).
std::optional<UpdateSource> startUp(TMainDM& dm, platform::Messages& messages,
                                    const std::filesystem::path& programFolder);
