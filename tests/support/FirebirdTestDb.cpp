#include "tests/support/FirebirdTestDb.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <atomic>
#include <cstdlib>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

namespace {

void runIsql(const std::filesystem::path& script, const std::filesystem::path& log)
{
    // ISC_USER/ISC_PASSWORD of the caller must not change the login.
    const std::string command =
        "env -u ISC_USER -u ISC_PASSWORD isql-fb -q -bail -i '" + script.string() + "' > '" + log.string() + "' 2>&1";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("isql-fb failed: " + readFileBytes(log));
}

} // namespace

FirebirdTestDb::FirebirdTestDb() : dir_("tavrel-fb"), file_(dir_.path() / "test.fdb")
{
    const auto script = dir_.path() / "create.sql";
    writeFileBytes(script, "create database '" + file_.string() + "' user 'SYSDBA' password '" + embeddedPassword() +
                               "' default character set UTF8;\nquit;\n");
    runIsql(script, dir_.path() / "create.log");
    std::filesystem::remove(script);
    std::filesystem::remove(dir_.path() / "create.log");
}

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
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(3050);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool firebirdServerRequired()
{
    const char* value = std::getenv("TAVREL_REQUIRE_FB_SERVER");
    return value && std::string(value) == "1";
}

} // namespace testsupport
