#include "db/keptconnection.h"

#include "app/serverconfig.h"

namespace orvela {

KeptConnection::KeptConnection(Kind kind)
    : m_kind(kind), m_db(nullptr, kind == Kind::Primary ? QStringLiteral("psql_orvela") : QStringLiteral("psql_orvela_read"))
{
}

QString KeptConnection::settingsKey(const ServerConfig& config)
{
    return QStringList{config.dbHost, config.primaryPorts(), config.dbName, config.dbUser, config.dbPassword,
                       QString::number(config.queryTimeout), config.readHost, config.readPort}
        .join(QChar(0));
}

bool KeptConnection::acquire(const ServerConfig& config, bool* opened, QString* error)
{
    const QString settings = settingsKey(config);
    *opened = false;
    if (m_db.isOpen() && settings == m_settings && m_db.stillConnected()) {
        return true;
    }
    m_db.close();
    m_lastCheck = QDateTime();
    m_freshUntilMs = 0;
    const bool connected = m_kind == Kind::Primary ? m_db.open(config, error)
                                                 : m_db.openReading(config, config.readHost, config.readPort, error);
    if (!connected) {
        m_db.close();
        return false;
    }
    m_settings = settings;
    *opened = true;
    return true;
}

bool KeptConnection::schemaCheckDue(const QDateTime& now) const
{
    return !m_lastCheck.isValid() || m_lastCheck.date().year() != now.date().year() ||
           m_lastCheck.secsTo(now) >= kSchemaCheckIntervalSeconds || m_lastCheck > now;
}

void KeptConnection::schemaChecked(const QDateTime& now)
{
    m_lastCheck = now;
}

void KeptConnection::release()
{
    m_db.endOpenTransaction();
    if (m_db.isOpen() && !m_db.stillConnected()) {
        m_db.close();
    }
}

} // namespace orvela
