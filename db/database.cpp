#include "db/database.h"

#include "app/serverconfig.h"
#include "db/sqltext.h"
#include "db/transaction.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QVariant>

#include <libpq-fe.h>

#include <cerrno>
#include <poll.h>

namespace orvela {

namespace {
constexpr int kConnectTimeoutSeconds = 10;

// The driver's own libpq connection, or none.
PGconn* libpqConnection(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "PGconn*") != 0) {
        return nullptr;
    }
    return *static_cast<PGconn* const*>(handle.constData());
}
} // namespace

Database::Database(QObject* parent, const QString& connectionName) : QObject(parent), m_name(connectionName) {}

Database::~Database()
{
    close();
}

bool Database::open(const ServerConfig& config, QString* error)
{
    // Only a list of hosts or reading servers need libpq to look for the writable server:
    // after a standby's promotion the next connection finds it by itself. With reading
    // servers its commits wait for the local flush (and for nothing more), so that the WAL
    // position read after a change covers its commit whatever the server's own setting says.
    const bool replicated = config.dbHost.contains(QLatin1Char(',')) || config.readingServersSet();
    return openWith(config, config.dbHost, config.primaryPorts(),
                    replicated ? QStringLiteral("target_session_attrs=read-write") : QString(),
                    config.readingServersSet() ? QStringLiteral(" -c synchronous_commit=local") : QString(), error);
}

bool Database::openReading(const ServerConfig& config, const QString& hosts, const QString& ports, QString* error)
{
    // A reading server that is down must cost a request little before the primary reads
    // instead; libpq waits at least 2 s per host. Its sessions are read-only, so that a
    // command that would change something fails there even when the list leads to a primary.
    return openWith(config, hosts, ports, QStringLiteral("target_session_attrs=prefer-standby;connect_timeout=2"),
                    QStringLiteral(" -c default_transaction_read_only=on"), error);
}

bool Database::openWith(const ServerConfig& config, const QString& hosts, const QString& ports,
                        const QString& extraOptions, const QString& extraSettings, QString* error)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    m_db.setHostName(hosts);
    m_db.setDatabaseName(config.dbName);
    m_db.setUserName(config.dbUser);
    m_db.setPassword(config.dbPassword);
    // The driver takes a single port; a list goes to libpq among the options.
    const bool portList = ports.contains(QLatin1Char(','));
    m_db.setPort(portList ? -1 : ports.toInt());
    // An unreachable server must not hold the request forever, nor may a runaway statement:
    // "orvela/query_timeout" is that statement limit, in seconds (0 for none). A connection
    // whose server vanished without closing it (a network cut) fails its next statement after
    // as long as connecting may take, instead of waiting for an answer that never comes. And
    // the server looks every two seconds whether the program is still there while a statement
    // runs: a request the web server ended (a client gone, its time limit passed) ends the
    // process, and its statement is cancelled instead of running to its limit. The statements
    // are short index probes whose estimated cost can still pass the planner's threshold for
    // compiling them, which costs more (about 12 ms) than running them.
    QString options = QStringLiteral("connect_timeout=%1;tcp_user_timeout=%2;keepalives=1;"
                                     "keepalives_idle=30;keepalives_interval=10;keepalives_count=3;"
                                     "options='-c statement_timeout=%3s -c client_connection_check_interval=2s -c jit=off%4'")
                          .arg(kConnectTimeoutSeconds)
                          .arg(kConnectTimeoutSeconds * 1000)
                          .arg(config.queryTimeout)
                          .arg(extraSettings);
    if (portList) {
        // Digits and commas only: the driver splits the options at semicolons.
        options += QStringLiteral(";port=") + ports;
    }
    // libpq takes the last of a repeated keyword, so these override the values above.
    if (!extraOptions.isEmpty()) {
        options += QLatin1Char(';') + extraOptions;
    }
    m_db.setConnectOptions(options);
    if (!m_db.open()) {
        *error = m_db.lastError().text();
        return false;
    }
    // The driver knows whether the server reads backslashes in literals as escapes.
    QSqlField probe(QString(), QVariant::String);
    probe.setValue(QStringLiteral("\\"));
    setSqlBackslashEscapes(m_db.driver()->formatValue(probe) != QStringLiteral("'\\'"));
    return true;
}

void Database::close()
{
    if (!m_db.isValid()) {
        return;
    }
    if (m_db.isOpen()) {
        m_db.close();
        emit toLog(LogInfo, QObject::tr("Завершение соединения с СУБД PostreSql."));
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(m_name);
    setCheckedArchiveYears(1, 0);
}

bool Database::stillConnected() const
{
    PGconn* connection = libpqConnection(m_db);
    if (!m_db.isOpen() || !connection || PQstatus(connection) != CONNECTION_OK) {
        return false;
    }
    pollfd entry{PQsocket(connection), POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&entry, 1, 0);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

void Database::endOpenTransaction()
{
    PGconn* connection = libpqConnection(m_db);
    if (connection && PQtransactionStatus(connection) != PQTRANS_IDLE &&
        PQstatus(connection) == CONNECTION_OK) {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
    }
}

// Queries fetch their whole result at once: handlers often run a look-up for each row of a
// listing, and a forward-only query would still be reading its rows from the connection.
QSqlQuery Database::newQuery() const
{
    return QSqlQuery(m_db);
}

void Database::logStatementError(const QString& errorText)
{
    emit toLog(LogError, QObject::tr("Ошибка при выполнении запроса PostgreSql: ") + errorText);
}

void Database::logDebugError(const QString& errorText)
{
    logDebug(QObject::tr("   Ошибка при запросе в БД PostgreSql: ") + errorText);
}

void Database::logDebug(const QString& text)
{
    if (m_debug) {
        emit toLog(LogDebug, text);
    }
}

bool Database::select(const QString& sql, QSqlQuery* query)
{
    if (query->exec(sql)) {
        return true;
    }
    logStatementError(query->lastError().text());
    return false;
}

quint16 Database::execQuery(const QString& sql, QSqlQuery* query, bool useTransaction,
                            qint64* outId)
{
    if (!query) {
        return 104;
    }
    Transaction transaction(m_db, useTransaction);
    if (!transaction.began()) {
        logStatementError(m_db.lastError().text());
        return 132;
    }
    if (!query->exec(sql) || !transaction.commit()) {
        const QString text = query->lastError().isValid() ? query->lastError().text()
                                                          : m_db.lastError().text();
        transaction.rollback();
        logStatementError(text);
        return 132;
    }
    if (!outId) {
        return 0;
    }
    if (!query->next() || query->value(QStringLiteral("Id")).isNull()) {
        return 155;
    }
    bool converted = false;
    const qint64 id = query->value(QStringLiteral("Id")).toLongLong(&converted);
    if (!converted) {
        return 155;
    }
    *outId = id;
    return 0;
}

quint16 Database::execInTransaction(const QString& sql, qint64* outId)
{
    QSqlQuery query = newQuery();
    return execQuery(sql, &query, true, outId);
}

quint16 Database::execAllInTransaction(const QStringList& statements)
{
    Transaction transaction(m_db, true);
    if (!transaction.began()) {
        logStatementError(m_db.lastError().text());
        return 132;
    }
    QSqlQuery query = newQuery();
    for (const QString& sql : statements) {
        if (!query.exec(sql)) {
            const QString text = query.lastError().text();
            transaction.rollback();
            logStatementError(text);
            return 132;
        }
    }
    if (!transaction.commit()) {
        logStatementError(m_db.lastError().text());
        return 132;
    }
    return 0;
}

quint16 Database::findRecordId(const QString& table, const QString& condition, qint64* outId)
{
    *outId = -1;
    QSqlQuery query = newQuery();
    if (!select(QStringLiteral("SELECT \"Id\" FROM \"") + table + QStringLiteral("\" WHERE (") +
                    condition + QStringLiteral(") LIMIT 1;"),
                &query)) {
        return 132;
    }
    if (!query.next()) {
        return 0;
    }
    bool converted = false;
    const qint64 id = query.value(0).toLongLong(&converted);
    if (!converted) {
        return 177;
    }
    *outId = id;
    return 0;
}

QString Database::selectValue(const QString& table, const QString& field,
                              const QString& condition, quint16* outCode, Missing missing)
{
    quint16 ignored = 0;
    quint16& code = outCode ? *outCode : ignored;
    code = 0;
    QSqlQuery query = newQuery();
    if (!select(QStringLiteral("SELECT \"") + field + QStringLiteral("\" AS \"Res\" FROM \"") +
                    table + QStringLiteral("\" WHERE (") + condition +
                    QStringLiteral(") LIMIT 1;"),
                &query)) {
        code = 132;
        return QString();
    }
    if (!query.next()) {
        if (missing == Missing::Fails) {
            code = 132;
        }
        return QString();
    }
    // A NULL value reads as an empty text, not as the "0" of a null number.
    const QVariant value = query.value(0);
    return value.isNull() ? QString() : value.toString();
}

quint16 Database::findDevice(const QString& manId, qint64 identNum, int ver, int devType,
                             qint64* outId, int* outConnectType)
{
    QSqlQuery query = newQuery();
    const QString sql =
        QStringLiteral("SELECT \"Id\", \"ConnectType\" FROM \"DeviceTable\" WHERE (\"DevType\"=") +
        QString::number(devType) + QStringLiteral(") AND (\"ManId\"=") + sqlText(manId) +
        QStringLiteral(") AND (\"IdentNum\"=") + QString::number(identNum) +
        QStringLiteral(") AND (\"Ver\"=") + QString::number(ver) + QStringLiteral(") LIMIT 1;");
    if (!select(sql, &query)) {
        return 26;
    }
    if (!query.next()) {
        return 27;
    }
    bool converted = false;
    *outId = query.value(0).toLongLong(&converted);
    if (outConnectType) {
        *outConnectType = query.value(1).toInt();
    }
    return converted ? 0 : 81;
}

quint16 Database::companyOfDevice(qint64 deviceId, qint64* outCompanyId)
{
    QSqlQuery query = newQuery();
    const QString sql =
        QStringLiteral("SELECT \"CompanyId\" FROM \"AddressTable\", \"ObjectTable\", "
                       "\"InstallTable\" WHERE (\"DeviceId\"=") +
        QString::number(deviceId) +
        QStringLiteral(") AND (\"ObjectId\"=\"ObjectTable\".\"Id\") AND "
                       "(\"AddressId\"=\"AddressTable\".\"Id\") AND (\"Actual\"=1) LIMIT 1;");
    if (!select(sql, &query)) {
        return 132;
    }
    if (!query.next()) {
        return 235;
    }
    bool converted = false;
    *outCompanyId = query.value(0).toLongLong(&converted);
    return converted ? 0 : 258;
}

quint16 Database::deviceIdentity(qint64 deviceId, DeviceIdentity* outIdentity)
{
    QSqlQuery query = newQuery();
    const QString sql = QStringLiteral("SELECT DISTINCT \"DevType\", \"ManId\", \"IdentNum\", "
                                       "\"Ver\" FROM \"DeviceTable\" WHERE (\"Id\"=") +
                        QString::number(deviceId) + QStringLiteral(") LIMIT 1;");
    if (!select(sql, &query)) {
        return 26;
    }
    if (!query.next()) {
        return 246;
    }
    outIdentity->identNum = query.value(2).toString().toUInt(nullptr, 16);
    bool converted = false;
    outIdentity->devType = static_cast<quint8>(query.value(0).toInt(&converted));
    if (!converted) {
        return 247;
    }
    outIdentity->manufacturer = manufacturerCode(query.value(1).toString());
    outIdentity->version = static_cast<quint8>(query.value(3).toInt(&converted));
    return converted ? 0 : 248;
}

bool Database::tableExists(const QString& name, quint16* outCode)
{
    QSqlQuery query = newQuery();
    const QString sql = QStringLiteral("SELECT 1 FROM pg_catalog.pg_tables WHERE "
                                       "schemaname='public' AND tablename=") +
                        sqlText(name) + QStringLiteral(" LIMIT 1;");
    if (!select(sql, &query)) {
        if (outCode) {
            *outCode = 132;
        }
        return false;
    }
    if (outCode) {
        *outCode = 0;
    }
    return query.next();
}

} // namespace orvela
