#include "readings/lookups.h"

#include "db/database.h"
#include "db/schemascripts.h"
#include "db/sqltext.h"
#include "readings/units.h"
#include "readings/vocabulary.h"

#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>

namespace orvela {

namespace {

const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";

QString quotedTable(int year)
{
    return QLatin1Char('"') + archiveTableName(year) + QLatin1Char('"');
}

// A row whose first error element names an error, acknowledged or not.
QString errorCondition()
{
    return QStringLiteral(ORVELA_ARCHIVE_ERROR_CONDITION);
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
    learnArchives(year, year);
    return m_archives.value(year);
}

void ReadingLookups::learnArchives(int firstYear, int lastYear)
{
    // The years the schema check has just seen need no question. The others are asked of the
    // catalogue's own cache rather than of the tables view, whose first reading on a fresh
    // connection costs more than the look-ups it serves; a failed question reads as no table.
    QList<int> years;
    QStringList probes;
    for (int year = firstYear; year <= lastYear; ++year) {
        if (!m_archives.contains(year) && m_db.archiveYearChecked(year)) {
            m_archives.insert(year, true);
        } else if (!m_archives.contains(year)) {
            years << year;
            probes << QStringLiteral("to_regclass(") +
                          sqlText(QStringLiteral("public.\"") + archiveTableName(year) + QLatin1Char('"')) +
                          QStringLiteral(") IS NOT NULL");
        }
    }
    if (years.isEmpty()) {
        return;
    }
    QSqlQuery query = m_db.newQuery();
    const bool answered = m_db.select(QStringLiteral("SELECT ") + probes.join(QStringLiteral(", ")) + QLatin1Char(';'), &query) &&
                          query.next();
    for (int i = 0; i < years.size(); ++i) {
        m_archives.insert(years.at(i), answered && query.value(i).toBool());
    }
}

quint16 ReadingLookups::newestInWindow(const QList<qint64>& deviceIds, int year, const QDateTime& fromUtc,
                                       const QDateTime& toUtc, QHash<qint64, StoredReading>* rows)
{
    // One index probe per device: its rows of the window, newest first; among rows of one
    // moment the latest written wins. The order names the table's column: the text column of
    // the same name would have every row of the window read and sorted.
    QSqlQuery query = m_db.newQuery();
    if (!m_db.select(QStringLiteral("SELECT d.\"Id\", r.* FROM unnest(") + sqlIdArray(deviceIds) +
                         QStringLiteral(") AS d(\"Id\") CROSS JOIN LATERAL (SELECT \"ArcDate\"::text AS \"ArcDate\", "
                                        "\"RecDate\"::text AS \"RecDate\", (\"JsonVal\"::varchar) AS \"JsonVal\", "
                                        "(\"JsonErr\"::varchar) AS \"JsonErr\" FROM ") +
                         quotedTable(year) + QStringLiteral(" x WHERE (\"DeviceId\"=d.\"Id\") AND (\"ArcDate\" BETWEEN ") +
                         sqlTimestamp(fromUtc) + QStringLiteral(" AND ") + sqlTimestamp(toUtc) +
                         QStringLiteral(") ORDER BY x.\"ArcDate\" DESC, x.\"Id\" DESC LIMIT 1) r;"),
                     &query)) {
        return 30;
    }
    while (query.next()) {
        rows->insert(query.value(0).toLongLong(),
                     StoredReading{query.value(1), query.value(2), query.value(3).toString(), query.value(4).toString()});
    }
    return 0;
}

quint16 ReadingLookups::latestDeviceReadings(const QVector<ReadingDevice>& devices, const QDate& date, int deltaDays,
                                             int timeShiftMinutes, QVector<LatestReading>* readings)
{
    const QDateTime from(date.addDays(-deltaDays), QTime(0, 0), Qt::UTC);
    const QDateTime to(date, QTime(23, 59, 59), Qt::UTC);
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    readings->fill(LatestReading{from, {}}, devices.size());
    QList<qint64> ids;
    for (const ReadingDevice& device : devices) {
        ids << device.id;
    }
    // The window is local time, the tables are years of stored time, and a window may span New
    // Year: every table the window touches in either frame is read, the newest row wins.
    const int firstYear = qMin(from.date().year(), from.addSecs(-shift).date().year());
    const int lastYear = qMax(to.date().year(), to.addSecs(-shift).date().year());
    QVector<QHash<qint64, StoredReading>> years;
    for (int year = firstYear; year <= lastYear; ++year) {
        years.append(QHash<qint64, StoredReading>());
        if (!ids.isEmpty() && archiveExists(year)) {
            const quint16 code = newestInWindow(ids, year, from.addSecs(-shift), to.addSecs(-shift), &years.last());
            if (code != 0) {
                return code;
            }
        }
    }
    for (int i = 0; i < devices.size(); ++i) {
        const quint16 code = presentNewest(devices.at(i), years, timeShiftMinutes, &(*readings)[i]);
        if (code != 0) {
            return code;
        }
    }
    return 0;
}

quint16 ReadingLookups::presentNewest(const ReadingDevice& device, const QVector<QHash<qint64, StoredReading>>& years,
                                      int timeShiftMinutes, LatestReading* reading)
{
    ArchiveRecord newest;
    for (const QHash<qint64, StoredReading>& rows : years) {
        if (!rows.contains(device.id)) {
            continue;
        }
        const StoredReading& row = rows.value(device.id);
        ArchiveRecord record;
        const quint16 code = parseArchiveRecord(row.arcDate, row.recDate, row.jsonVal, row.jsonErr, device.identity,
                                                timeShiftMinutes, &record, m_debug);
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
        if (isCounterValue(device.identity.devType, value, value.prefixNum, value.postfixNum, false)) {
            presentCounter(m_units, device.identity.devType, device.transKoef, &value);
            reading->values.append(value);
        }
    }
    reading->time = newest.arcDate;
    return 0;
}

// Look-ups that read one yearly table after another until a device's row turns up: round by
// round, each device still waiting asks its next year, and the devices that ask the same year
// are read with one statement. `years` lists the years of each device in the order it reads
// them; `read` gets a year and the indexes of the devices asking it, and returns those it
// settled.
void ReadingLookups::byYears(const QVector<QList<int>>& years,
                             const std::function<QSet<int>(int year, const QList<int>& devices)>& read)
{
    QVector<int> round(years.size(), 0);
    QSet<int> settled;
    for (bool asked = true; asked;) {
        asked = false;
        QMap<int, QList<int>> byYear;
        for (int i = 0; i < years.size(); ++i) {
            if (!settled.contains(i) && round[i] < years[i].size()) {
                byYear[years[i][round[i]++]] << i;
                asked = true;
            }
        }
        for (auto group = byYear.cbegin(); group != byYear.cend(); ++group) {
            if (archiveExists(group.key())) {
                settled.unite(read(group.key(), group.value()));
            }
        }
    }
}

ReadingLookups::ReadingTexts ReadingLookups::readingTexts(const TextDevice& device, const QSqlQuery& row) const
{
    ReadingTexts texts;
    const QString display = QStringLiteral("HH:mm:ss\ndd.MM.yyyy");
    texts.arcLocal = archiveUtcDateTime(row.value(1));
    texts.recLocal = archiveUtcDateTime(row.value(2));
    texts.arcTime = texts.arcLocal.toString(display);
    texts.recTime = texts.recLocal.toString(display);
    QVector<ArchiveValue> values;
    const bool valuesWhole = parseArchiveValues(row.value(3).toString(), &values, m_debug) == 0;
    QStringList lines;
    for (ArchiveValue value : values) {
        if (isCounterValue(device.identity.devType, value, value.prefixNum, value.postfixNum, false) && device.transKoef != 1) {
            applyTransKoef(device.transKoef, &value);
        }
        applyUserUnits(m_units, device.identity.devType, &value);
        const QString line = valueDisplayText(device.identity.devType, value);
        if (!line.isEmpty()) {
            lines << line;
        }
    }
    texts.values = lines.join(QLatin1Char('\n'));
    QVector<ArchiveError> errors;
    if (valuesWhole && parseArchiveErrors(row.value(4).toString(), &errors, m_debug) == 0) {
        texts.errors = archiveErrorsText(device.identity, errors);
    }
    return texts;
}

QVector<ReadingLookups::ReadingTexts> ReadingLookups::latestReadingTexts(const QVector<TextDevice>& devices,
                                                                         const QDateTime& nowUtc)
{
    QVector<ReadingTexts> texts(devices.size());
    QVector<QList<int>> years;
    for (const TextDevice& device : devices) {
        const int year = nowUtc.addSecs(static_cast<qint64>(device.timeShiftMinutes) * 60).date().year();
        years.append({year, year - 1, year - 2});
    }
    byYears(years, [&](int year, const QList<int>& asking) {
        QList<qint64> ids;
        QList<qint64> shifts;
        for (const int i : asking) {
            ids << devices[i].id;
            shifts << devices[i].timeShiftMinutes;
        }
        // A failed statement reads as no row: the device goes on to its next year.
        QSqlQuery query = m_db.newQuery();
        QSet<int> settled;
        if (!m_db.select(QStringLiteral("SELECT d.\"N\", r.* FROM unnest(") + sqlIdArray(ids) + QStringLiteral(", ") + sqlIdArray(shifts) +
                             QStringLiteral(") WITH ORDINALITY AS d(\"Id\", \"Shift\", \"N\") CROSS JOIN LATERAL (SELECT "
                                            "(\"ArcDate\" + (d.\"Shift\" * interval '1 minute'))::text AS \"ADate\", (\"RecDate\" + "
                                            "(d.\"Shift\" * interval '1 minute'))::text AS \"RDate\", (\"JsonVal\"::varchar) AS "
                                            "\"JsonVal\", (\"JsonErr\"::varchar) AS \"JsonErr\" FROM ") +
                             quotedTable(year) +
                             QStringLiteral(" WHERE (\"DeviceId\"=d.\"Id\") ORDER BY \"ArcDate\" DESC, \"Id\" DESC LIMIT 1) r;"),
                         &query)) {
            return settled;
        }
        while (query.next()) {
            const int i = asking.at(query.value(0).toInt() - 1);
            texts[i] = readingTexts(devices[i], query);
            settled.insert(i);
        }
        return settled;
    });
    return texts;
}

ReadingLookups::ReadingTexts ReadingLookups::latestReadingText(qint64 deviceId, const DeviceIdentity& identity,
                                                               int timeShiftMinutes, qint64 transKoef,
                                                               const QDateTime& nowUtc)
{
    return latestReadingTexts({{deviceId, identity, timeShiftMinutes, transKoef}}, nowUtc).first();
}

QVector<QString> ReadingLookups::lastErrorTexts(const QVector<ErrorWindow>& windows, int days)
{
    QVector<QString> texts(windows.size());
    QVector<QList<int>> years;
    for (const ErrorWindow& window : windows) {
        years.append(QList<int>());
        for (int year = window.toUtc.date().year(); year >= window.toUtc.addDays(-days).date().year(); --year) {
            years.last() << year;
        }
    }
    byYears(years, [&](int year, const QList<int>& asking) {
        QList<qint64> ids;
        QStringList froms;
        QStringList tos;
        for (const int i : asking) {
            ids << windows[i].deviceId;
            froms << sqlTimestamp(windows[i].toUtc.addDays(-days));
            tos << sqlTimestamp(windows[i].toUtc);
        }
        QSqlQuery query = m_db.newQuery();
        // A failed statement ends the look-up of those devices with no text.
        const QSet<int> all(asking.cbegin(), asking.cend());
        if (!m_db.select(QStringLiteral("SELECT d.\"N\", r.* FROM unnest(") + sqlIdArray(ids) + QStringLiteral(", ARRAY[") +
                             froms.join(QLatin1Char(',')) + QStringLiteral("]::timestamp[], ARRAY[") + tos.join(QLatin1Char(',')) +
                             QStringLiteral("]::timestamp[]) WITH ORDINALITY AS d(\"Id\", \"From\", \"To\", \"N\") CROSS JOIN "
                                            "LATERAL (SELECT \"ArcDate\"::text AS \"ArcDate\", (\"JsonErr\"::varchar) AS \"Err\" FROM ") +
                             quotedTable(year) +
                             QStringLiteral(" x WHERE (\"DeviceId\"=d.\"Id\") AND (\"ArcDate\" BETWEEN d.\"From\" AND d.\"To\") AND ") +
                             errorCondition() + QStringLiteral(" ORDER BY x.\"ArcDate\" DESC, x.\"Id\" DESC LIMIT 1) r;"),
                         &query)) {
            return all;
        }
        QSet<int> settled;
        while (query.next()) {
            const int i = asking.at(query.value(0).toInt() - 1);
            texts[i] = errorText(windows[i], query.value(1), query.value(2).toString());
            settled.insert(i);
        }
        return settled;
    });
    return texts;
}

QString ReadingLookups::errorText(const ErrorWindow& window, const QVariant& arcDate, const QString& jsonErr) const
{
    QVector<ArchiveError> errors;
    parseArchiveErrors(jsonErr, &errors);
    const QString text = archiveErrorsText(window.identity, errors);
    if (text.isEmpty()) {
        return text;
    }
    const QDateTime local = shiftedToLocal(archiveUtcDateTime(arcDate), window.timeShiftMinutes);
    return local.toString(QStringLiteral("[dd.MM.yyyy HH:mm:ss]")) + text;
}

QString ReadingLookups::lastErrorText(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& toTimeUtc,
                                      int days, int timeShiftMinutes)
{
    return lastErrorTexts({{deviceId, identity, toTimeUtc, timeShiftMinutes}}, days).first();
}

quint16 ReadingLookups::verificationDates(const QList<qint64>& deviceIds, QHash<qint64, QDate>* dates)
{
    if (deviceIds.isEmpty()) {
        return 0;
    }
    QSqlQuery query = m_db.newQuery();
    if (!query.exec(QStringLiteral("SELECT DISTINCT ON (\"DeviceId\") \"DeviceId\", \"DatePov\"::text FROM \"PoverkaTable\" "
                                   "WHERE (\"Actual\"=1) AND (\"DeviceId\" = ANY(") +
                    sqlIdArray(deviceIds) + QStringLiteral(")) ORDER BY \"DeviceId\", \"DatePov\" DESC;"))) {
        emit m_db.toLog(LogError, QObject::tr("Ошибка при выполнении запроса PostgeSql: ") + query.lastError().text());
        return 132;
    }
    while (query.next()) {
        const QDate date = QDate::fromString(query.value(1).toString(), QStringLiteral("yyyy-MM-dd"));
        if (date.isValid()) {
            dates->insert(query.value(0).toLongLong(), date);
        }
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
            quotedTable(year) + QStringLiteral(" WHERE (\"DeviceId\" = ANY(") + sqlIdArray(deviceIds) +
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
