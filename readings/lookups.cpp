#include "readings/lookups.h"

#include "db/database.h"
#include "db/sqltext.h"
#include "readings/units.h"
#include "readings/vocabulary.h"

#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace orvela {

namespace {

const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";

QString quotedTable(int year)
{
    return QLatin1Char('"') + archiveTableName(year) + QLatin1Char('"');
}

// The error code of a row's first error element, when it is a whole JSON number; 0 otherwise,
// without a cast that could fail the whole statement on one odd row.
QString firstErrorCode()
{
    return QStringLiteral("(CASE WHEN json_typeof(\"JsonErr\"->0->'errorCode')='number' AND "
                          "(\"JsonErr\"->0->>'errorCode') ~ '^[0-9]{1,18}$' THEN (\"JsonErr\"->0->>'errorCode')::bigint "
                          "ELSE 0 END)");
}

// A row whose first error element names an error, acknowledged or not.
QString errorCondition()
{
    return QStringLiteral("(json_typeof(\"JsonErr\")='array') AND (") + firstErrorCode() + QStringLiteral(" > 0)");
}

// The scaled, converted value a client sees of an accumulating register.
void presentCounter(const UserUnitSettings& units, int devType, qint64 transKoef, ArchiveValue* value)
{
    if (transKoef != 1) {
        applyTransKoef(transKoef, value);
    }
    applyUserUnits(units, devType, value);
}

} // namespace

QString unfixedErrorCondition()
{
    return errorCondition() + QStringLiteral(" AND (\"JsonErr\"->0->'fixed' IS NULL)");
}

QString sqlTimestamp(const QDateTime& time)
{
    return sqlText(time.toString(QString::fromLatin1(kTimeFormat)));
}

bool ReadingLookups::archiveExists(int year)
{
    if (!m_archives.contains(year)) {
        m_archives.insert(year, m_db.tableExists(archiveTableName(year)));
    }
    return m_archives.value(year);
}

quint16 ReadingLookups::latestDeviceReading(qint64 deviceId, const DeviceIdentity& identity, const QDate& date,
                                            int deltaDays, int timeShiftMinutes, qint64 transKoef, QDateTime* time,
                                            QVector<ArchiveValue>* values)
{
    const QDateTime from(date.addDays(-deltaDays), QTime(0, 0), Qt::UTC);
    const QDateTime to(date, QTime(23, 59, 59), Qt::UTC);
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    *time = from;
    values->clear();
    // The window is local time, the tables are years of stored time, and a window may span New
    // Year: every table the window touches in either frame is read, the newest row wins.
    const int firstYear = qMin(from.date().year(), from.addSecs(-shift).date().year());
    const int lastYear = qMax(to.date().year(), to.addSecs(-shift).date().year());
    const QString shifted = QStringLiteral(" + interval '") + QString::number(shift) + QStringLiteral(" second'");
    ArchiveRecord newest;
    for (int year = firstYear; year <= lastYear; ++year) {
        if (!archiveExists(year)) {
            continue;
        }
        const QString table = quotedTable(year);
        QSqlQuery query = m_db.newQuery();
        const QString sql =
            QStringLiteral("SELECT a.\"Id\", a.\"DeviceId\", a.\"ArcDate\"::text AS \"ArcDate\", a.\"RecDate\"::text AS "
                           "\"RecDate\", (a.\"JsonVal\"::varchar) AS \"JsonVal\", (a.\"JsonErr\"::varchar) AS \"JsonErr\" "
                           "FROM ") +
            table + QStringLiteral(" a, (SELECT MAX(sa.\"ArcDate\"") + shifted + QStringLiteral(") AS \"dmax\" FROM ") +
            table + QStringLiteral(" sa WHERE sa.\"DeviceId\" IN (") + QString::number(deviceId) +
            QStringLiteral(") AND (\"ArcDate\"") + shifted + QStringLiteral(" BETWEEN ") + sqlTimestamp(from) +
            QStringLiteral(" AND ") + sqlTimestamp(to) + QStringLiteral(") GROUP BY  sa.\"DeviceId\" ) pa WHERE a.\"ArcDate\"") +
            shifted + QStringLiteral(" = pa.\"dmax\" AND a.\"DeviceId\" IN (") + QString::number(deviceId) +
            QStringLiteral(") LIMIT 1; ");
        if (!m_db.select(sql, &query)) {
            return 30;
        }
        if (!query.next()) {
            continue;
        }
        ArchiveRecord record;
        const quint16 code = parseArchiveRecord(query.value(2), query.value(3), query.value(4).toString(),
                                                query.value(5).toString(), identity, timeShiftMinutes, &record, m_debug);
        if (code != 0) {
            return code;
        }
        if (!newest.arcDate.isValid() || record.arcDate > newest.arcDate) {
            newest = record;
        }
    }
    if (!newest.arcDate.isValid()) {
        return 0;
    }
    for (ArchiveValue value : newest.values) {
        if (isCounterValue(identity.devType, value, value.prefixNum, value.postfixNum, false)) {
            presentCounter(m_units, identity.devType, transKoef, &value);
            values->append(value);
        }
    }
    *time = newest.arcDate;
    return 0;
}

ReadingLookups::ReadingTexts ReadingLookups::latestReadingText(qint64 deviceId, const DeviceIdentity& identity,
                                                               int timeShiftMinutes, qint64 transKoef,
                                                               const QDateTime& nowUtc)
{
    ReadingTexts texts;
    const int year = nowUtc.addSecs(static_cast<qint64>(timeShiftMinutes) * 60).date().year();
    const QString shift = QStringLiteral(" + (") + QString::number(timeShiftMinutes) + QStringLiteral(" * interval '1 minute')");
    for (int y = year; y >= year - 2; --y) {
        if (!archiveExists(y)) {
            continue;
        }
        QSqlQuery query = m_db.newQuery();
        if (!m_db.select(QStringLiteral("SELECT \"Id\", (\"ArcDate\"") + shift + QStringLiteral(")::text AS \"ADate\", (\"RecDate\"") +
                             shift + QStringLiteral(")::text AS \"RDate\", (\"JsonVal\"::varchar) AS \"JsonVal\", (\"JsonErr\"::varchar) "
                                                   "AS \"JsonErr\" FROM ") +
                             quotedTable(y) + QStringLiteral(" WHERE (\"DeviceId\"=") + QString::number(deviceId) +
                             QStringLiteral(") ORDER BY \"ArcDate\" DESC LIMIT 1;"),
                         &query) ||
            !query.next()) {
            continue;
        }
        const QString display = QStringLiteral("HH:mm:ss\ndd.MM.yyyy");
        texts.arcLocal = archiveUtcDateTime(query.value(1));
        texts.recLocal = archiveUtcDateTime(query.value(2));
        texts.arcTime = texts.arcLocal.toString(display);
        texts.recTime = texts.recLocal.toString(display);
        QVector<ArchiveValue> values;
        const bool valuesWhole = parseArchiveValues(query.value(3).toString(), &values, m_debug) == 0;
        QStringList lines;
        for (ArchiveValue value : values) {
            if (isCounterValue(identity.devType, value, value.prefixNum, value.postfixNum, false) && transKoef != 1) {
                applyTransKoef(transKoef, &value);
            }
            applyUserUnits(m_units, identity.devType, &value);
            const QString line = valueDisplayText(identity.devType, value);
            if (!line.isEmpty()) {
                lines << line;
            }
        }
        texts.values = lines.join(QLatin1Char('\n'));
        QVector<ArchiveError> errors;
        if (valuesWhole && parseArchiveErrors(query.value(4).toString(), &errors, m_debug) == 0) {
            texts.errors = archiveErrorsText(identity, errors);
        }
        break;
    }
    return texts;
}

QString ReadingLookups::lastErrorText(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& toTimeUtc,
                                      int days, int timeShiftMinutes)
{
    const QDateTime from = toTimeUtc.addDays(-days);
    for (int year = toTimeUtc.date().year(); year >= from.date().year(); --year) {
        if (!archiveExists(year)) {
            continue;
        }
        QSqlQuery query = m_db.newQuery();
        if (!m_db.select(QStringLiteral("SELECT \"ArcDate\"::text AS \"ArcDate\", (\"JsonErr\"::varchar) AS \"Err\" FROM ") +
                             quotedTable(year) + QStringLiteral(" WHERE (\"DeviceId\"=") + QString::number(deviceId) +
                             QStringLiteral(") AND (\"ArcDate\" BETWEEN ") + sqlTimestamp(from) + QStringLiteral(" AND ") +
                             sqlTimestamp(toTimeUtc) + QStringLiteral(") AND ") + errorCondition() +
                             QStringLiteral(" ORDER BY \"ArcDate\" DESC LIMIT 1;"),
                         &query)) {
            return QString();
        }
        if (!query.next()) {
            continue;
        }
        QVector<ArchiveError> errors;
        parseArchiveErrors(query.value(1).toString(), &errors);
        const QString text = archiveErrorsText(identity, errors);
        if (text.isEmpty()) {
            return text;
        }
        const QDateTime local = shiftedToLocal(archiveUtcDateTime(query.value(0)), timeShiftMinutes);
        return local.toString(QStringLiteral("[dd.MM.yyyy HH:mm:ss]")) + text;
    }
    return QString();
}

quint16 ReadingLookups::lastVerificationDate(qint64 deviceId, QDate* date, bool* found)
{
    QSqlQuery query = m_db.newQuery();
    *found = false;
    if (!query.exec(QStringLiteral("SELECT \"DatePov\"::text FROM \"PoverkaTable\" WHERE (\"Actual\"=1) AND (\"DeviceId\"=") +
                    QString::number(deviceId) + QStringLiteral(") ORDER BY \"DatePov\" DESC LIMIT 1;"))) {
        emit m_db.toLog(LogError, QObject::tr("Ошибка при выполнении запроса PostgeSql: ") + query.lastError().text());
        return 132;
    }
    if (query.next()) {
        *date = QDate::fromString(query.value(0).toString(), QStringLiteral("yyyy-MM-dd"));
        *found = date->isValid();
    }
    return 0;
}

quint16 ReadingLookups::recentUnfixedErrors(const QList<qint64>& deviceIds, const QHash<qint64, int>& timeShifts,
                                            int days, int perDevice, const QDateTime& nowUtc,
                                            QHash<qint64, QJsonArray>* entries)
{
    if (deviceIds.isEmpty()) {
        return 0;
    }
    QStringList ids;
    for (const qint64 id : deviceIds) {
        ids << QString::number(id);
    }
    const QDateTime from = nowUtc.addDays(-days);
    // The newest first: this year's rows, then last year's, each device cut at perDevice.
    for (int year = nowUtc.date().year(); year >= from.date().year(); --year) {
        if (!archiveExists(year)) {
            continue;
        }
        QSqlQuery query = m_db.newQuery();
        const QString sql =
            QStringLiteral("SELECT \"Id\", \"DeviceId\", \"ArcDate\"::text AS \"ArcDate\", \"Err\" FROM (SELECT \"Id\", "
                           "\"DeviceId\", \"ArcDate\", (\"JsonErr\"::varchar) AS \"Err\", row_number() OVER (PARTITION BY "
                           "\"DeviceId\" ORDER BY \"ArcDate\" DESC, \"Id\" DESC) AS \"Rank\" FROM ") +
            quotedTable(year) + QStringLiteral(" WHERE (\"DeviceId\" IN (") + ids.join(QLatin1Char(',')) +
            QStringLiteral(")) AND (\"ArcDate\" BETWEEN ") + sqlTimestamp(from) + QStringLiteral("::timestamp AND ") +
            sqlTimestamp(nowUtc) + QStringLiteral("::timestamp) AND ") + unfixedErrorCondition() +
            QStringLiteral(" AND (\"JsonErr\"->0->'prefixNum' IS NOT NULL) AND (\"JsonErr\"->0->'postfixNum' IS NOT NULL)") +
            QStringLiteral(") r WHERE \"Rank\" <= ") + QString::number(perDevice) +
            QStringLiteral(" ORDER BY \"DeviceId\", \"ArcDate\" DESC, \"Id\" DESC;");
        if (!m_db.select(sql, &query)) {
            return 132;
        }
        while (query.next()) {
            const qint64 deviceId = query.value(1).toLongLong();
            QJsonArray& list = (*entries)[deviceId];
            QVector<ArchiveError> errors;
            parseArchiveErrors(query.value(3).toString(), &errors);
            if (list.size() >= perDevice || errors.isEmpty()) {
                continue;
            }
            const QDateTime stored = archiveUtcDateTime(query.value(2));
            list.append(QJsonObject{
                {QStringLiteral("id"), query.value(0).toLongLong()},
                {QStringLiteral("date"), shiftedToLocal(stored, timeShifts.value(deviceId)).toString(QString::fromLatin1(kTimeFormat))},
                {QStringLiteral("dateUTC"), stored.toString(QString::fromLatin1(kTimeFormat))},
                {QStringLiteral("errorCode"), errors.first().errorCode},
                {QStringLiteral("prefixNum"), errors.first().prefixNum},
                {QStringLiteral("postfixNum"), errors.first().postfixNum}});
        }
    }
    return 0;
}

} // namespace orvela
