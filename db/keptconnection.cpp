#include "db/keptconnection.h"

#include "app/serverconfig.h"

namespace orvela {

QString KeptConnection::settingsKey(const ServerConfig& config)
{
    return QStringList{config.dbHost, QString::number(config.dbPort), config.dbName,
                       config.dbUser, config.dbPassword, QString::number(config.queryTimeout)}
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
    if (!m_db.open(config, error)) {
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
