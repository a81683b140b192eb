#include "support/pgfixture.h"

#include "db/schema.h"
#include "security/crypto.h"

#include <QJsonDocument>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QUuid>

namespace testing_support {

namespace {

int startCluster()
{
    QProcess script;
    script.start(QStringLiteral(ORVELA_PGCLUSTER_SCRIPT),
                 {QStringLiteral("start"), QStringLiteral(ORVELA_TEST_PGDIR)});
    script.waitForFinished(180000);
    const int port = script.readAllStandardOutput().trimmed().toInt();
    if (port <= 0) {
        qFatal("The test PostgreSQL cluster did not start: %s",
               script.readAllStandardError().constData());
    }
    return port;
}

QSqlDatabase openConnection(const QString& connectionName, const QString& database)
{
    if (QSqlDatabase::contains(connectionName)) {
        return QSqlDatabase::database(connectionName);
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(PgServer::port());
    db.setDatabaseName(database);
    db.setUserName(QStringLiteral("orvela"));
    db.setPassword(PgServer::password());
    if (!db.open()) {
        qFatal("Cannot reach the test PostgreSQL cluster: %s", qPrintable(db.lastError().text()));
    }
    return db;
}

QSqlDatabase adminConnection()
{
    return openConnection(QStringLiteral("test_admin"), QStringLiteral("postgres"));
}

} // namespace

int PgServer::port()
{
    static int port = startCluster();
    return port;
}

QString PgServer::createDatabase()
{
    const QString name =
        QStringLiteral("t_") + QUuid::createUuid().toString(QUuid::Id128).left(20);
    QSqlQuery query(adminConnection());
    if (!query.exec(QStringLiteral("CREATE DATABASE ") + name +
                    QStringLiteral(" OWNER orvela TEMPLATE template0 ENCODING 'UTF8'"))) {
        qFatal("CREATE DATABASE failed: %s", qPrintable(query.lastError().text()));
    }
    return name;
}

void PgServer::dropDatabase(const QString& name)
{
    QSqlQuery query(adminConnection());
    query.exec(QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)"));
}

orvela::ServerConfig PgServer::connectionConfig(const QString& database)
{
    orvela::ServerConfig config;
    config.dbHost = QStringLiteral("127.0.0.1");
    config.dbPort = port();
    config.dbName = database;
    config.dbUser = QStringLiteral("orvela");
    config.dbPassword = password();
    return config;
}

QMap<QString, QString> PgServer::serverConfig(const QString& database)
{
    return {{QStringLiteral("server"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("port"), QString::number(port())},
            {QStringLiteral("db"), database},
            {QStringLiteral("user"), QStringLiteral("orvela")},
            {QStringLiteral("password"), password()}};
}

TestDatabase::TestDatabase()
    : m_name(PgServer::createDatabase()), m_connectionName(QStringLiteral("test_") + m_name),
      m_db(openConnection(m_connectionName, m_name))
{
}

TestDatabase::~TestDatabase()
{
    m_db.close();
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_connectionName);
    PgServer::dropDatabase(m_name);
}

QSqlQuery TestDatabase::exec(const QString& sql)
{
    QSqlQuery query(m_db);
    if (!query.exec(sql)) {
        ADD_FAILURE() << "SQL failed: " << qPrintable(sql) << "\n"
                      << qPrintable(query.lastError().text());
    }
    return query;
}

QVariant TestDatabase::scalar(const QString& sql)
{
    QSqlQuery query = exec(sql);
    return query.next() ? query.value(0) : QVariant();
}

void DbTest::SetUp()
{
    db = std::make_unique<TestDatabase>();
    cgi = std::make_unique<CgiInstall>();
    cgi->writeServerConfig(PgServer::serverConfig(db->name()));
}

void DbTest::TearDown()
{
    cgi.reset();
    db.reset();
}

QList<HostileText> hostileTexts()
{
    return {
        {"quote", "O'Brien"},
        {"backslash", "back\\slash\\'"},
        {"percent", "100%_done%"},
        {"NULL word", "NULL"},
        {"null word", "null"},
        {"statement", "'; drop table \"UserTable\"; --"},
        {"json text", R"([{"pas":"x","a":{"b":[1,2]}}])"},
        {"invalid utf-8", "\xff\xfe ab \xc0"},
        {"control characters", QByteArray("a\nb\tc\0d", 7)},
        {"ten thousand letters", QString(10000, QChar(0x042B)).toUtf8()},
    };
}

QString tokenFor(const QString& login, const QString& password)
{
    tarn::Crypto crypto;
    QString token;
    crypto.encryptText(login + QLatin1Char(':') + tarn::md5Hex(password), QStringLiteral("quartz"),
                       &token);
    return token;
}

CgiResult DbTest::call(const QString& token, const QString& command, const Params& params) const
{
    Params all = {{QStringLiteral("CMD"), command}, {QStringLiteral("Auth"), token}};
    all += params;
    return cgi->post(all);
}

void DbTest::initSchema()
{
    const CgiResult result = cgi->get({{QStringLiteral("CMD"), QStringLiteral("Get_UserData")},
                                       {QStringLiteral("Login"), QStringLiteral("admin")},
                                       {QStringLiteral("Password"), QStringLiteral("tulip")}});
    ASSERT_EQ(result.errorCode(), 0) << qPrintable(result.describe());
}

QString DbTest::createUser(const QString& login, int userType, qint64 companyId, int status)
{
    db->exec(QStringLiteral("INSERT INTO \"UserTable\" (\"Login\", \"PasHash\", \"Status\", "
                            "\"UserType\", \"CompanyId\") VALUES ('%1', md5('pw-%1'), %2, %3, %4)")
                 .arg(login)
                 .arg(status)
                 .arg(userType)
                 .arg(companyId > 0 ? QString::number(companyId) : QStringLiteral("NULL")));
    return tokenFor(login, QStringLiteral("pw-") + login);
}

qint64 DbTest::createCompany(const QString& name)
{
    return insertId(QStringLiteral(R"(INSERT INTO "CompanyTable" ("Name") VALUES ('%1') RETURNING "Id")").arg(name));
}

qint64 DbTest::address(const QString& name, qint64 companyId)
{
    return insertId(QStringLiteral(R"(INSERT INTO "AddressTable" ("Name", "CompanyId") VALUES ('%1', %2) RETURNING "Id")")
                        .arg(name, companyId > 0 ? QString::number(companyId) : QStringLiteral("NULL")));
}

qint64 DbTest::object(qint64 addressId, const QString& obj)
{
    return insertId(QStringLiteral(R"(INSERT INTO "ObjectTable" ("AddressId", "Obj") VALUES (%1, '%2') RETURNING "Id")")
                        .arg(addressId).arg(obj));
}

qint64 DbTest::model(int resCode)
{
    return insertId(QStringLiteral(R"(WITH m AS (INSERT INTO "ManufTable" ("Name") VALUES ('Maker') RETURNING "Id")
        INSERT INTO "ModelTable" ("Name", "ManufId", "ResCode") SELECT 'Model', "Id", %1 FROM m RETURNING "Id")").arg(resCode));
}

qint64 DbTest::installedDevice(qint64 modelId, qint64 objectId, int identNum)
{
    const qint64 id = insertId(QStringLiteral(R"(INSERT INTO "DeviceTable" ("DevType", "ManId", "IdentNum", "Ver", "ZavNum", "ModelId")
        VALUES (7, 'ABC', %1, 1, 'Z%1', %2) RETURNING "Id")").arg(identNum).arg(modelId));
    db->exec(QStringLiteral(R"(INSERT INTO "InstallTable" ("DeviceId", "ObjectId", "DateInstall", "Actual") VALUES (%1, %2, '2020-01-01', 1))")
                 .arg(id).arg(objectId));
    return id;
}

qint64 DbTest::abonentAt(qint64 objectId, const QString& name)
{
    const qint64 id = insertId(QStringLiteral(R"(INSERT INTO "AbonentTable" ("Name", "Login", "PasHash") VALUES ('%1', '%1-' || nextval('"AbonentTable_Id_seq"'), md5('x')) RETURNING "Id")").arg(name));
    db->exec(QStringLiteral(R"(UPDATE "ObjectTable" SET "AbonentId"=%1 WHERE "Id"=%2)").arg(id).arg(objectId));
    return id;
}

QString DbTest::snapshot()
{
    QStringList parts;
    for (const char* table : {"UserTable", "SessionTable", "CompanyTable", "AddressTable", "ObjectTable", "AbonentTable",
                              "LicAccountTable", "ManufTable", "ModelTable", "DeviceTable", "InstallTable", "TaskTable",
                              "ConcTable"}) {
        parts << db->scalar(QStringLiteral(R"(SELECT md5(coalesce(string_agg(t::text, '|' ORDER BY t::text), '')) FROM "%1" t)")
                                .arg(QLatin1String(table)))
                     .toString();
    }
    return parts.join(QLatin1Char(','));
}

CgiResult DbTest::callWhileHeld(const QString& token, const QString& command, const Params& params,
                                const QStringList& heldStatements, bool* waited)
{
    db->connection().transaction();
    for (const QString& sql : heldStatements) {
        db->exec(sql);
    }
    const QStringList logsBefore = cgi->logFiles();
    Params all = {{QStringLiteral("CMD"), command}, {QStringLiteral("Auth"), token}};
    QProcess* process = cgi->startPost(all + params);
    *waited = !process->waitForFinished(500);
    db->connection().commit();
    return cgi->finish(process, logsBefore);
}

qint64 DbTest::insertId(const QString& sql)
{
    QSqlQuery query = db->exec(sql);
    return query.next() ? query.value(0).toLongLong() : -1;
}

qint64 DbTest::userId(const QString& login)
{
    return db->scalar(QStringLiteral("SELECT \"Id\" FROM \"UserTable\" WHERE \"Login\"='%1'").arg(login))
        .toLongLong();
}

void TwoCompanies::SetUp()
{
    DbTest::SetUp();
    initSchema();
    water = createCompany(QStringLiteral("Water"));
    heat = createCompany(QStringLiteral("Heat"));
}

void DbTest::yearlyTables(int year)
{
    for (const QString& name : orvela::Schema::yearlyTemplates()) {
        const QString table = QString(name).replace(QStringLiteral("%YEAR%"), QString::number(year));
        if (db->count(QStringLiteral("SELECT count(*) FROM pg_tables WHERE tablename='%1'").arg(table)) > 0) {
            continue;
        }
        const QString script = orvela::Schema::creationScript(name).replace(QStringLiteral("%YEAR%"), QString::number(year));
        for (const QString& piece : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            if (!piece.trimmed().isEmpty()) {
                db->exec(piece);
            }
        }
    }
}

qint64 DbTest::archiveRow(qint64 deviceId, const QString& arcDateUtc, const QString& jsonVal, const QString& jsonErr,
                          const QString& recDateUtc)
{
    yearlyTables(arcDateUtc.left(4).toInt());
    const auto literal = [](const QString& text) -> QString { return QLatin1Char('\'') + QString(text).replace("'", "''") + QLatin1Char('\''); };
    return insertId(QStringLiteral(R"(INSERT INTO "ArchiveTable%1" ("DeviceId", "ArcDate", "RecDate", "JsonVal", "JsonErr") VALUES (%2, '%3', '%4', %5, %6) RETURNING "Id")")
                        .arg(arcDateUtc.left(4))
                        .arg(deviceId)
                        .arg(arcDateUtc, recDateUtc.isEmpty() ? arcDateUtc : recDateUtc, literal(jsonVal), literal(jsonErr)));
}

qint64 DbTest::technicalRow(qint64 deviceId, const QString& techDateUtc, const QString& jsonVal)
{
    yearlyTables(techDateUtc.left(4).toInt());
    return insertId(QStringLiteral(R"(INSERT INTO "TechnicalTable%1" ("DeviceId", "TechDate", "JsonVal") VALUES (%2, '%3', '%4') RETURNING "Id")")
                        .arg(techDateUtc.left(4))
                        .arg(deviceId)
                        .arg(techDateUtc, QString(jsonVal).replace("'", "''")));
}

QJsonObject reading(int titleId, int edId, const QString& val, int prefixNum, int postfixNum)
{
    return {{"titleId", titleId}, {"edId", edId}, {"val", val}, {"prefixNum", prefixNum}, {"postfixNum", postfixNum}};
}

QJsonObject flags(qint64 errorCode, int prefixNum, int postfixNum)
{
    return {{"errorCode", errorCode}, {"prefixNum", prefixNum}, {"postfixNum", postfixNum}};
}

QString hoursAgo(double hours)
{
    return QDateTime::currentDateTimeUtc().addSecs(static_cast<qint64>(-hours * 3600)).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString json(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace testing_support
