// MS SQL Server's road on Windows: Qt's ODBC driver, the system's ODBC
// manager and the FreeTDS driver that the connection string names. Under
// Wine the manager is Wine's odbc32, which hands the calls to the host's
// unixODBC and its FreeTDS; no SQL Server is at hand, so the road is
// followed up to the server that does not answer.
#include "db/DbConnection.h"

#include <gtest/gtest.h>

#include <winsock2.h>

#include <string>

namespace {

// A loopback port that nothing listens on.
int closedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

TEST(MssqlOverOdbc, ReachesTheFreeTdsDriverAndNamesTheServerThatDoesNotAnswer)
{
    TDbConnection connection;
    connection.DriverName = "MSSQL";
    connection.Params = {"DriverID=MSSQL", "Server=127.0.0.1," + std::to_string(closedPort()), "Database=urv",
                         "User_Name=sa", "Password=secret;with}braces", "MARS=Yes"};
    try {
        connection.Open();
        FAIL() << "a server that is not there accepted the connection";
    } catch (const TDbError& error) {
        // The driver's own words: the manager found it and it tried the server.
        const std::string text = error.what();
        EXPECT_NE(text.find("FreeTDS"), std::string::npos) << text;
    }
    EXPECT_FALSE(connection.Connected());
}

} // namespace
