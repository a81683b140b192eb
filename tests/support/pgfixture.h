#pragma once

#include "app/serverconfig.h"
#include "support/cgirunner.h"
#include "support/qtprinters.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

#include <gtest/gtest.h>

namespace testing_support {

// Texts that must never change a statement: each is stored as sent (the decoded form of
// invalid UTF-8) or refused with a code (a NUL character, which no text column can hold).
struct HostileText {
    const char* name;
    QByteArray bytes;
    QString stored() const { return QString::fromUtf8(bytes.constData(), bytes.size()); }
};
QList<HostileText> hostileTexts();

// The "Auth" token of a login and password under the default key.
QString tokenFor(const QString& login, const QString& password);

// The PostgreSQL cluster of this test run, started on a free port when it is not running.
class PgServer {
public:
    static int port();
    static QString password() { return QStringLiteral("granite"); }
    // Creates an empty database owned by the program's role and returns its name.
    static QString createDatabase();
    static void dropDatabase(const QString& name);
    // Connection parameters of a database, for a server.cnf.
    static QMap<QString, QString> serverConfig(const QString& database);
    // The same settings as the program reads them, for code run in the test's own process.
    static orvela::ServerConfig connectionConfig(const QString& database);
};

// A fresh database and a connection to it for reading rows back.
class TestDatabase {
public:
    TestDatabase();
    ~TestDatabase();
    QString name() const { return m_name; }
    QSqlDatabase& connection() { return m_db; }
    // Runs a statement; a failure fails the current test.
    QSqlQuery exec(const QString& sql);
    QVariant scalar(const QString& sql);
    qint64 count(const QString& sql) { return scalar(sql).toLongLong(); }

private:
    QString m_name;
    QString m_connectionName;
    QSqlDatabase m_db;
};

// A test with its own database and an installation of the program configured for it.
class DbTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString adminToken() const { return tokenFor(QStringLiteral("admin"), QStringLiteral("tulip")); }
    // Runs a command as the given token (POST, URL-encoded).
    CgiResult call(const QString& token, const QString& command, const Params& params = {}) const;
    CgiResult callAsAdmin(const QString& command, const Params& params = {}) const
    {
        return call(adminToken(), command, params);
    }
    // Brings the schema in place with one request.
    void initSchema();
    // Inserts an account directly and returns a token for it.
    QString createUser(const QString& login, int userType, qint64 companyId = 0, int status = 1);
    qint64 userId(const QString& login);
    // Rows inserted directly, each returning its id.
    qint64 createCompany(const QString& name);
    qint64 address(const QString& name, qint64 companyId);        // 0: of no company
    qint64 object(qint64 addressId, const QString& obj = QStringLiteral("1"));
    qint64 objectOf(qint64 companyId) { return object(address(QStringLiteral("a"), companyId)); }
    qint64 model(int resCode = 0);                                  // with a manufacturer
    qint64 installedDevice(qint64 modelId, qint64 objectId, int identNum);
    qint64 abonentAt(qint64 objectId, const QString& name = QStringLiteral("Abonent"));
    qint64 insertId(const QString& sql);
    QString value(const QString& sql) { return db->scalar(sql).toString(); }
    // Readings as the data-collection component writes them, into the table of the reading's
    // year (made through the schema's own script when it is missing). Times are stored UTC,
    // "yyyy-MM-dd HH:mm:ss"; the JSON texts go in as they stand, malformed ones included.
    qint64 archiveRow(qint64 deviceId, const QString& arcDateUtc, const QString& jsonVal,
                      const QString& jsonErr = QStringLiteral("[]"), const QString& recDateUtc = QString());
    qint64 technicalRow(qint64 deviceId, const QString& techDateUtc, const QString& jsonVal);
    void yearlyTables(int year);

    // A digest of every table the commands change, to prove that a refused command changed
    // nothing.
    QString snapshot();

    // Runs a command while the test's own connection holds a transaction in which the given
    // statements ran (a lock, a half-made change). *waited tells whether the command was
    // still running after half a second; the transaction is then committed and the result
    // collected.
    CgiResult callWhileHeld(const QString& token, const QString& command, const Params& params,
                            const QStringList& heldStatements, bool* waited);

    std::unique_ptr<TestDatabase> db;
    std::unique_ptr<CgiInstall> cgi;
};

// A database with its schema in place and two companies, "Water" and "Heat".
class TwoCompanies : public DbTest {
protected:
    void SetUp() override;

    qint64 water = 0;
    qint64 heat = 0;
};

// The compact text of a JSON array, as clients send "DATA".
QString json(const QJsonArray& array);

// Elements of an archive row's "JsonVal" and "JsonErr".
QJsonObject reading(int titleId, int edId, const QString& val, int prefixNum = 0, int postfixNum = 0);
QJsonObject flags(qint64 errorCode, int prefixNum = 0, int postfixNum = 0);
// A UTC time this many hours before now, "yyyy-MM-dd HH:mm:ss".
QString hoursAgo(double hours);

} // namespace testing_support

// Asserts the result code of a run together with the exact message clients show for it, and
// prints the envelope and log tail when either differs. Every code asserted is noted for the
// check, at the end of a whole run, that each code the program answers was reached.
#define EXPECT_CODE(result, expected) EXPECT_TRUE(testing_support::answered((result), (expected)))
#define ASSERT_CODE(result, expected) ASSERT_TRUE(testing_support::answered((result), (expected)))
