#include "db/readingservers.h"

#include "app/serverconfig.h"
#include "db/database.h"
#include "db/sqltext.h"

#include <QElapsedTimer>
#include <QThread>
#include <QVariant>

namespace orvela {

namespace {
constexpr int kPollMs = 3;

bool askTrue(Database& db, const QString& sql)
{
    QSqlQuery query = db.newQuery();
    return query.exec(sql) && query.next() && query.value(0).toBool();
}

// Waits until one reading server has replayed up to lsn; false when the bound passed first.
bool awaitOne(Database& reading, const QString& lsn, int lagMax)
{
    const QString sql = QStringLiteral("SELECT NOT pg_is_in_recovery() OR pg_last_wal_replay_lsn() >= ") +
                        sqlText(lsn) + QStringLiteral("::pg_lsn");
    QElapsedTimer timer;
    timer.start();
    while (!askTrue(reading, sql)) {
        if (timer.elapsed() >= lagMax * 1000LL) {
            return false;
        }
        QThread::msleep(kPollMs);
    }
    return true;
}
} // namespace

bool ReadingServers::fresh(Database& reading, int lagMax)
{
    // A standby whose receiver stopped (its primary gone) may have missed changes, so only
    // the commit time of what it applied last tells then; the standby's clock is the judge.
    return askTrue(reading, QStringLiteral("SELECT NOT pg_is_in_recovery() OR (pg_last_wal_receive_lsn() = "
                                           "pg_last_wal_replay_lsn() AND EXISTS (SELECT 1 FROM pg_stat_wal_receiver)) "
                                           "OR coalesce(now() - pg_last_xact_replay_timestamp() <= make_interval(secs => ") +
                                QString::number(lagMax) + QStringLiteral("), false)"));
}

void ReadingServers::awaitApplied(Database& primary, const ServerConfig& config, Database* keptReading)
{
    QSqlQuery position = primary.newQuery();
    if (!position.exec(QStringLiteral("SELECT pg_current_wal_lsn()::text")) || !position.next()) {
        return;
    }
    const QString lsn = position.value(0).toString();
    const QStringList hosts = config.readHost.split(QLatin1Char(','), Qt::SkipEmptyParts);
    const QStringList ports = config.readPort.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int i = 0; i < hosts.size(); ++i) {
        Database own(nullptr, QStringLiteral("psql_orvela_wait"));
        const bool reuse = hosts.size() == 1 && keptReading && keptReading->stillConnected();
        Database& reading = reuse ? *keptReading : own;
        QString error;
        const QString port = ports.size() == 1 ? ports.first() : ports.value(i);
        if (!reuse && !own.openReading(config, hosts.at(i).trimmed(), port.trimmed(), &error)) {
            continue; // a server that is down serves no reader either
        }
        if (!awaitOne(reading, lsn, config.readLagMax)) {
            emit primary.toLog(LogInfo, QObject::tr("Сервер чтения ") + hosts.at(i) +
                                            QObject::tr(" не применил изменение за ") +
                                            QString::number(config.readLagMax) + QObject::tr(" с."));
        }
    }
}

} // namespace orvela
