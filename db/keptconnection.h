#pragma once

#include "db/database.h"

#include <QDateTime>

namespace orvela {

struct ServerConfig;

// A database connection of a persistent process (one for changes, one for reading when
// reading servers are set), kept from one request to the next. It is
// opened anew when the server ended it, when the settings of the server file changed, or when
// the last request left it broken; the schema check runs on every new connection and again
// when it is due.
class KeptConnection {
public:
    enum class Kind { Primary, Reading };
    explicit KeptConnection(Kind kind = Kind::Primary);

    // The connection for these settings, open; *opened tells that it was opened just now.
    // False with the driver's text when it cannot be opened.
    bool acquire(const ServerConfig& config, bool* opened, QString* error);
    // Whether the schema check is due: on a new connection, an hour after the last check, or
    // in a new year (its yearly tables must appear in time).
    bool schemaCheckDue(const QDateTime& now) const;
    void schemaChecked(const QDateTime& now);
    // A reading connection found fresh is trusted for this long before it is asked again.
    static constexpr qint64 kFreshForMs = 1000;
    bool knownFresh(qint64 nowMs) const { return nowMs < m_freshUntilMs; }
    void foundFresh(qint64 nowMs) { m_freshUntilMs = nowMs + kFreshForMs; }
    // At the end of a request: a transaction left open is rolled back and a broken connection
    // is closed now, while the request's log still records it.
    void release();

    Database& database() { return m_db; }

    static constexpr qint64 kSchemaCheckIntervalSeconds = 3600;

private:
    static QString settingsKey(const ServerConfig& config);

    Kind m_kind;
    Database m_db;
    QString m_settings;
    QDateTime m_lastCheck;
    qint64 m_freshUntilMs = 0;
};

} // namespace orvela
