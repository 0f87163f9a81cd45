#include "db/DbConnection.h"

#include "platform/FileOps.h"
#include "platform/FirebirdClient.h"
#include "platform/TextCodec.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>

// How the product's connection parameters reach Qt Sql. This is the only
// place that knows it.
//
//   DriverID "FB"    -> QIBASE (Firebird client library).
//                       Server empty: Database is a file opened by the
//                       embedded engine of the client library, no server.
//                       Server set: Database is opened as Server:Database on
//                       that server ("host/port" selects another port).
//   DriverID "MSSQL" -> QODBC through the FreeTDS ODBC driver, with the
//                       connection string DRIVER={FreeTDS};SERVER=;DATABASE=;
//                       UID=;PWD=. "Server" may be "host,port". "MARS=Yes"
//                       asks for MARS_Connection=Yes, which FreeTDS honours
//                       as far as its version supports it.
//   DriverID "Ora"   -> QOCI, Database being the net service name; Server is
//                       not used. Where Qt has no QOCI driver the open fails
//                       as a refused connection does.
//   anything else    -> the open fails.
//
//   User_Name and Password go to the driver as user and password in every case.

namespace {

QString qt(const std::string& ansi)
{
    const std::u16string wide = platform::ansiToUtf16(ansi);
    return QString::fromStdU16String(wide);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// ODBC values in braces survive ';' and '=' in them; a '}' is doubled.
QString odbcValue(const std::string& ansi)
{
    QString value = qt(ansi);
    value.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + value + QLatin1Char('}');
}

QString freeTdsConnectionString(const TDbConnection& con)
{
    std::string host = con.Param("Server");
    std::string port;
    if (const auto comma = host.find(','); comma != std::string::npos) {
        port = host.substr(comma + 1);
        host.erase(comma);
    }
    QString text = QStringLiteral("DRIVER={FreeTDS};SERVER=") + odbcValue(host);
    if (!port.empty())
        text += QStringLiteral(";PORT=") + odbcValue(port);
    text += QStringLiteral(";DATABASE=") + odbcValue(con.Param("Database"));
    text += QStringLiteral(";UID=") + odbcValue(con.Param("User_Name"));
    text += QStringLiteral(";PWD=") + odbcValue(con.Param("Password"));
    if (lower(con.Param("MARS")) == "yes")
        text += QStringLiteral(";MARS_Connection=Yes");
    return text;
}

QString qtDriverFor(const std::string& driverId)
{
    if (driverId == "FB")
        return QStringLiteral("QIBASE");
    if (driverId == "MSSQL")
        return QStringLiteral("QODBC");
    if (driverId == "Ora")
        return QStringLiteral("QOCI");
    return {};
}

// The embedded engine opens the Database path itself: a FIFO blocks it, a
// device or a folder sends it into minutes of retries. Only a regular file
// (or a link to one) can be a database; a path that does not exist is left
// to the engine, which refuses it at once or reads it as an alias or a
// server path ("host:/path").
void refuseUnusableDatabaseFile(const std::string& database)
{
    std::error_code ec;
    const auto status = std::filesystem::status(platform::toPath(database), ec);
    if (ec || !std::filesystem::exists(status) || std::filesystem::is_regular_file(status))
        return;
    throw TDbError("\"" + database + "\" is not a database file (not a regular file)");
}

QString nextConnectionName()
{
    static std::atomic<unsigned> counter{0};
    return QStringLiteral("tavrel-connection-%1").arg(counter++);
}

} // namespace

TDbConnection::TDbConnection() : connectionName_(nextConnectionName()) {}

TDbConnection::~TDbConnection()
{
    if (QSqlDatabase::contains(connectionName_)) {
        QSqlDatabase::database(connectionName_, false).close();
        QSqlDatabase::removeDatabase(connectionName_);
    }
}

std::string TDbConnection::Param(const std::string& Name) const
{
    const std::string wanted = lower(Name);
    for (const std::string& line : Params) {
        const auto equals = line.find('=');
        if (equals != std::string::npos && lower(line.substr(0, equals)) == wanted)
            return line.substr(equals + 1);
    }
    return {};
}

void TDbConnection::Open()
{
    if (Connected())
        return;
    TWaitCursorScope busy(WaitCursor);
    const QString driver = qtDriverFor(DriverName);
    if (driver.isEmpty())
        throw TDbError("Unknown database driver \"" + DriverName + "\"");
    if (DriverName == "FB") {
        if (const std::string missing = platform::loadFirebirdClient(); !missing.empty())
            throw TDbError(missing);
    }
    if (!QSqlDatabase::isDriverAvailable(driver))
        throw TDbError("Qt Sql driver " + driver.toStdString() + " for \"" + DriverName + "\" is not available");

    if (DriverName == "FB" && Param("Server").empty())
        refuseUnusableDatabaseFile(Param("Database"));

    // A fresh Qt connection per open: the driver may have changed since the last one.
    if (QSqlDatabase::contains(connectionName_))
        QSqlDatabase::removeDatabase(connectionName_);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, connectionName_);
    db.setUserName(qt(Param("User_Name")));
    db.setPassword(qt(Param("Password")));
    if (DriverName == "FB") {
        db.setHostName(qt(Param("Server")));
        db.setDatabaseName(qt(Param("Database")));
        db.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
    } else if (DriverName == "MSSQL") {
        db.setDatabaseName(freeTdsConnectionString(*this));
    } else {
        db.setDatabaseName(qt(Param("Database")));
    }
    if (!db.open()) {
        const std::string text = db.lastError().text().toStdString();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        throw TDbError(text.empty() ? "The database refused the connection" : text);
    }
}

void TDbConnection::Close()
{
    if (QSqlDatabase::contains(connectionName_))
        QSqlDatabase::database(connectionName_, false).close();
}

bool TDbConnection::Connected() const
{
    return QSqlDatabase::contains(connectionName_) && QSqlDatabase::database(connectionName_, false).isOpen();
}

QSqlDatabase TDbConnection::Database() const { return QSqlDatabase::database(connectionName_, false); }

void TDbConnection::ExecSQL(const std::string& SQL)
{
    if (!Connected())
        throw TDbError("The connection is not open");
    TWaitCursorScope busy(WaitCursor);
    TDbStatement statement{SQL, {}, {}};
    if (OnStatement)
        OnStatement(statement);
    QSqlQuery query(Database());
    if (!query.exec(qt(statement.SQL))) {
        const std::string text = query.lastError().text().toStdString();
        throw TDbError(text.empty() ? "The statement failed: " + statement.SQL : text);
    }
}
