#include "tests/support/FirebirdTestDb.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <ibase.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testsupport {

namespace {

std::string statusText(const ISC_STATUS* status)
{
    std::string text;
    char line[512];
    while (fb_interpret(line, sizeof line, &status))
        text += (text.empty() ? "" : "; ") + std::string(line);
    return text;
}

// Through the client library of this process, as the tests' connections
// go: the same on Linux and under Wine, where no Linux tool can be run.
void createDatabase(const std::filesystem::path& file)
{
    std::string quoted;
    for (char c : file.string())
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    const std::string sql = "CREATE DATABASE '" + quoted + "' USER 'SYSDBA' PASSWORD '" + embeddedPassword() +
                            "' DEFAULT CHARACTER SET UTF8";
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = 0;
    isc_tr_handle transaction = 0;
    if (isc_dsql_execute_immediate(status, &db, &transaction, 0, sql.c_str(), SQL_DIALECT_V6, nullptr))
        throw std::runtime_error("Firebird could not create " + file.string() + ": " + statusText(status));
    isc_detach_database(status, &db);
}

} // namespace

FirebirdTestDb::FirebirdTestDb() : dir_("tavrel-fb"), file_(dir_.path() / "test.fdb") { createDatabase(file_); }

void FirebirdTestDb::execute(const std::string& sql) const { run(sql, nullptr); }

std::vector<std::vector<std::string>> FirebirdTestDb::select(const std::string& sql) const
{
    std::vector<std::vector<std::string>> rows;
    run(sql, &rows);
    return rows;
}

void FirebirdTestDb::run(const std::string& sql, std::vector<std::vector<std::string>>* rows) const
{
    static std::atomic<unsigned> counter{0};
    const QString name = QStringLiteral("tavrel-test-firebird-%1").arg(counter++);
    std::string error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), name);
        db.setDatabaseName(QString::fromStdString(file_.string()));
        db.setUserName(QStringLiteral("SYSDBA"));
        db.setPassword(QString::fromStdString(embeddedPassword()));
        db.setConnectOptions(QStringLiteral("ISC_DPB_LC_CTYPE=UTF8"));
        if (!db.open()) {
            error = db.lastError().text().toStdString();
        } else {
            QSqlQuery query(db);
            if (!query.exec(QString::fromStdString(sql)))
                error = query.lastError().text().toStdString();
            while (rows && error.empty() && query.next()) {
                std::vector<std::string>& row = rows->emplace_back();
                for (int i = 0; i < query.record().count(); ++i) {
                    const QVariant value = query.value(i);
                    row.push_back(value.isNull() ? "NULL"
                                  : value.typeId() == QMetaType::QDateTime
                                      ? value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString()
                                      : value.toString().trimmed().toStdString());
                }
            }
            query.finish();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!error.empty())
        throw std::runtime_error("Firebird statement failed: " + sql + ": " + error);
}

void FirebirdTestDb::allowServerAccess() const
{
    using std::filesystem::perms;
    std::filesystem::permissions(dir_.path(), perms::all, std::filesystem::perm_options::add);
    std::filesystem::permissions(file_, perms::owner_read | perms::owner_write | perms::group_read |
                                            perms::group_write | perms::others_read | perms::others_write);
}

std::string firebirdServerPassword()
{
    const char* value = std::getenv("TAVREL_FB_PASSWORD");
    return value && *value ? value : "masterkey";
}

std::string embeddedPassword() { return firebirdServerPassword(); }

bool firebirdServerReachable()
{
#ifdef _WIN32
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const bool opened = fd != INVALID_SOCKET;
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool opened = fd >= 0;
#endif
    bool connected = false;
    if (opened) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(3050);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
#ifdef _WIN32
        ::closesocket(fd);
#else
        ::close(fd);
#endif
    }
#ifdef _WIN32
    WSACleanup();
#endif
    return connected;
}

bool firebirdServerRequired()
{
    const char* value = std::getenv("TAVREL_REQUIRE_FB_SERVER");
    return value && std::string(value) == "1";
}

} // namespace testsupport
