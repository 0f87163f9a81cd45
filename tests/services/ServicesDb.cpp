#include "tests/services/ServicesDb.h"

namespace servicestest {

void connectEmbedded(TDbConnection& connection, const testsupport::FirebirdTestDb& db)
{
    connection.DriverName = "FB";
    connection.Params = {"DriverID=FB", "Database=" + db.path().string(), "User_Name=SYSDBA",
                         "Password=" + testsupport::embeddedPassword(), "Server="};
    connection.Open();
}

std::string committedValue(const testsupport::FirebirdTestDb& db, const std::string& select)
{
    TDbConnection reader;
    connectEmbedded(reader, db);
    TDbQuery query(reader, nullptr, nullptr, select);
    query.Open();
    const std::string value = query.Eof() ? "<none>" : query.FieldByName("V").AsString();
    query.Close();
    return value;
}

} // namespace servicestest
