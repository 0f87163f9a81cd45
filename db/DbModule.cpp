#include "db/DbModule.h"

#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/TextCodec.h"

#include <iostream>
#include <stdexcept>

std::string urvDB;
std::string gremondDB;

// Working values of one ConnectDB call, shared with its re-reading of the
// section before the retry.
struct TDbModule::ConnectValues {
    int i = 0;
    std::string oDriver;
    std::string oServ;
    std::string oDB;
    std::string oUser;
    std::string oPsw;
    std::vector<std::string> oParams;
};

namespace {

constexpr int kindMssql = 1;

// The database layer's text is never shown to the user, but an administrator
// needs to see why connecting failed.
void logConnectError(const std::string& DBName, const std::string& stage)
{
    std::string text;
    try {
        throw;
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
        text = "unknown error";
    }
    std::cerr << "Connecting to database \"" << DBName << "\" (" << stage << "): " << text << std::endl;
}

TSettingsFile& settings()
{
    if (!UserIniFile)
        throw std::logic_error("The settings file is not open");
    return *UserIniFile;
}

} // namespace

TDbModule::TDbModule(platform::Messages& messages) : messages_(messages) { QParam.SQL = "select * from TAVREL_PARAMS"; }

std::string TDbModule::XorEncode(const std::string& Source) const { return scramble::XorEncode(Source); }

std::string TDbModule::XorDecode(const std::string& Source) const { return scramble::XorDecode(Source); }

void TDbModule::SetParams(ConnectValues& v, TDbConnection& dbCon, const std::string& Sect, std::string& Subd) const
{
    const TSettingsFile& ini = settings();
    v.i = ini.ReadInteger(Sect, "DB", 0);
    switch (v.i) {
    case 0: v.oDriver = "FB"; break;
    case 1: v.oDriver = "MSSQL"; break;
    case 2: v.oDriver = "Ora"; break;
    default: break; // an unknown kind keeps the identifier read before
    }
    v.oServ = ini.ReadString(Sect, "Server", "");
    v.oDB = ini.ReadString(Sect, "Database", "");
    v.oUser = ini.ReadString(Sect, "UserName", "SYSDBA");
    v.oPsw = XorDecode(ini.ReadString(Sect, "Password", ""));
    v.oParams.clear();
    dbCon.DriverName = v.oDriver;
    v.oParams.push_back("DriverID=" + v.oDriver);
    v.oParams.push_back("Database=" + v.oDB);
    v.oParams.push_back("User_Name=" + v.oUser);
    v.oParams.push_back("Password=" + v.oPsw);
    v.oParams.push_back("Server=" + v.oServ);
    if (v.i == kindMssql)
        v.oParams.push_back("MARS=Yes");
    Subd = v.oDriver;
}

void TDbModule::Fallback(ConnectValues& v, TDbConnection& dbCon, const std::string& DBName, const std::string& Sect,
                         std::string& Subd, bool& Result)
{
    try {
        ConnectionParamsRequest request;
        request.Title =
            u"Нет соединения с БД \"" + platform::ansiToUtf16(DBName) + u"\"!  Укажите параметры подключения:";
        request.Sect = Sect;
        request.Kind = v.i;
        request.Server = v.oServ;
        request.Database = v.oDB;
        request.UserName = v.oUser;
        request.Password = v.oPsw;
        const int modalResult = prompt_ ? prompt_->ShowModal(request) : ConnectionParamsPrompt::mrCancel;
        if (modalResult != ConnectionParamsPrompt::mrOk)
            return; // the connection stays closed and the final check reports it
        SetParams(v, dbCon, Sect, Subd);
        dbCon.Params = v.oParams;
        dbCon.Open();
    } catch (...) {
        logConnectError(DBName, "retry");
        Result = false;
    }
}

bool TDbModule::ConnectDB(TDbConnection& dbCon, const std::string& DBName, const std::string& Sect, std::string& Subd)
{
    bool Result = true;
    ConnectValues values;
    // Errors while the section is first read reach the caller.
    SetParams(values, dbCon, Sect, Subd);
    bool configured = false;
    try {
        dbCon.Close();
        dbCon.Params = values.oParams;
        configured = true;
    } catch (...) {
        logConnectError(DBName, "configure");
        Result = false;
    }
    if (configured) {
        try {
            dbCon.Open();
        } catch (...) {
            logConnectError(DBName, "open");
            Fallback(values, dbCon, DBName, Sect, Subd, Result);
        }
    }
    if (!Result || !dbCon.Connected()) {
        messages_.error(u"Нет соединения с БД \"" + platform::ansiToUtf16(DBName) + u"\"!");
        Result = false;
    }
    return Result;
}
