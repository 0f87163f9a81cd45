// Key generators of either database, in the SQL form of the database system
// its driver identifier names.
#include "services/KeyGenerators.h"

namespace services {

namespace {

// Clears the scratch query's text on every way out, so that a text left by
// a failed call never reaches the next one. Changing the text closes the
// query first: Open keeps an open query as it stands, so rows a caller left
// open would otherwise answer for the generator.
class ScratchText {
public:
    explicit ScratchText(TDbQuery& query) : query_(query)
    {
        query_.Close();
        query_.SQL.clear();
    }
    ~ScratchText()
    {
        query_.Close();
        query_.SQL.clear();
    }
    ScratchText(const ScratchText&) = delete;
    ScratchText& operator=(const ScratchText&) = delete;

private:
    TDbQuery& query_;
};

} // namespace

int NextGeneratorValue(const std::string& driverId, const std::string& NGen, TDbStoredProc& proc, TDbQuery& scratch)
{
    if (driverId == "MSSQL") {
        proc.Param(1).SetString(NGen);
        proc.Param(2).SetInteger(0);
        proc.ExecProc();
        return proc.Param(2).AsInteger();
    }
    ScratchText text(scratch);
    // The name is pasted as it stands: it must be a bare identifier of the database.
    if (driverId == "FB")
        scratch.SQL = "select GEN_ID(" + NGen + ", 1) NV from RDB$DATABASE";
    else if (driverId == "Ora")
        scratch.SQL = "select " + NGen + ".Nextval NV from DUAL";
    else
        return 0;
    scratch.Open();
    return scratch.FieldByName("NV").AsInteger();
}

} // namespace services
