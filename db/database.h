#pragma once

#include "db/deviceidentity.h"
#include "log/logtype.h"

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace orvela {

struct ServerConfig;

// The request's PostgreSQL connection and the statement helpers every handler shares.
// Helpers return result codes and log failed statements; none of them throws or answers.
class Database : public QObject {
    Q_OBJECT
public:
    // Connections living side by side in one process need names of their own.
    explicit Database(QObject* parent = nullptr, const QString& connectionName = QStringLiteral("psql_orvela"));
    ~Database() override;

    QString connectionName() const { return m_name; }

    // Opens the connection for changes to the configured server; on failure the driver's text
    // is in *error. With several hosts or with reading servers, libpq picks a host that
    // accepts writes.
    bool open(const ServerConfig& config, QString* error);
    // Opens a connection for reading to these hosts and ports (libpq lists), a standby
    // preferred; its sessions refuse any change.
    bool openReading(const ServerConfig& config, const QString& hosts, const QString& ports, QString* error);
    // Closes an open connection (with its record); does nothing otherwise.
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    // Whether an open connection is still usable, told without a round trip: the driver's
    // state is good and the server has sent nothing unasked (a server that shuts down or ends
    // the session says so on the socket before it closes it).
    bool stillConnected() const;
    // Rolls back a transaction that was left open, so that the next user of a kept connection
    // starts outside any transaction.
    void endOpenTransaction();
    QSqlDatabase& connection() { return m_db; }
    void setDebug(bool on) { m_debug = on; }
    bool debug() const { return m_debug; }

    // A query on this connection.
    QSqlQuery newQuery() const;

    // Runs a read statement; a failure is logged and false returned.
    bool select(const QString& sql, QSqlQuery* query);
    // One statement, optionally in a transaction of its own, optionally reading back "Id".
    quint16 execQuery(const QString& sql, QSqlQuery* query, bool useTransaction,
                      qint64* outId = nullptr);
    quint16 execInTransaction(const QString& sql, qint64* outId = nullptr);
    // Runs statements that must succeed or fail together; the first failure rolls back.
    quint16 execAllInTransaction(const QStringList& statements);

    quint16 findRecordId(const QString& table, const QString& condition, qint64* outId);
    enum class Missing { Fails, Allowed };
    QString selectValue(const QString& table, const QString& field, const QString& condition,
                        quint16* outCode = nullptr, Missing missing = Missing::Fails);
    quint16 findDevice(const QString& manId, qint64 identNum, int ver, int devType, qint64* outId,
                       int* outConnectType = nullptr);
    quint16 companyOfDevice(qint64 deviceId, qint64* outCompanyId);
    quint16 deviceIdentity(qint64 deviceId, DeviceIdentity* outIdentity);
    // Whether a table of that exact name exists in the public schema.
    bool tableExists(const QString& name, quint16* outCode = nullptr);

    void logStatementError(const QString& errorText);
    // The schema upkeep reports failed probes only in debug mode.
    void logDebugError(const QString& errorText);
    void logDebug(const QString& text);

    // The yearly tables the last successful schema check on this connection left in place, so
    // that readers need not ask for them again; an empty range when that check failed.
    void setCheckedArchiveYears(int first, int last)
    {
        m_firstCheckedYear = first;
        m_lastCheckedYear = last;
    }
    bool archiveYearChecked(int year) const { return year >= m_firstCheckedYear && year <= m_lastCheckedYear; }

signals:
    void toLog(LogType type, const QString& text);

private:
    // extraOptions: libpq keywords ("a=1;b=2"); extraSettings: " -c name=value" server settings.
    bool openWith(const ServerConfig& config, const QString& hosts, const QString& ports, const QString& extraOptions,
                  const QString& extraSettings, QString* error);

    QString m_name;
    QSqlDatabase m_db;
    bool m_debug = false;
    int m_firstCheckedYear = 1;
    int m_lastCheckedYear = 0;
};

} // namespace orvela
