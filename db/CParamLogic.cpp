#include "db/CParamLogic.h"

#include "db/Scramble.h"
#include "db/SettingsFile.h"
#include "platform/TextCodec.h"

#include <stdexcept>

void TFCParamLogic::Fill(const ConnectionParamsRequest& request)
{
    ComboDBIndex = (request.Kind >= 0 && request.Kind <= kindOracle) ? request.Kind : -1;
    Sect = request.Sect;
    EServ = platform::ansiToUtf16(request.Server);
    EBase = platform::ansiToUtf16(request.Database);
    EUser = platform::ansiToUtf16(request.UserName);
    EPass = platform::ansiToUtf16(request.Password);
    PanelTtl = request.Title;
}

void TFCParamLogic::FormShow() { ComboDBChange(); }

void TFCParamLogic::ComboDBChange()
{
    EServVisible = ComboDBIndex != kindOracle;
    if (ComboDBIndex == kindOracle)
        EServ.clear();
}

void TFCParamLogic::BBOKClick()
{
    if (!UserIniFile)
        throw std::logic_error("The settings file is not open");
    if (ComboDBIndex < 0)
        ComboDBIndex = 0;
    TSettingsFile& ini = *UserIniFile;
    ini.WriteInteger(Sect, "DB", ComboDBIndex);
    ini.WriteString(Sect, "Server", platform::utf16ToAnsi(EServ));
    ini.WriteString(Sect, "Database", platform::utf16ToAnsi(EBase));
    ini.WriteString(Sect, "UserName", platform::utf16ToAnsi(EUser));
    ini.WriteString(Sect, "Password", scramble::XorEncode(platform::utf16ToAnsi(EPass)));
    ModalResult = ConnectionParamsPrompt::mrOk;
}
