#include "readings/slotbuilder.h"

#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"
#include "readings/lookups.h"

#include <QSqlQuery>

#include <algorithm>

namespace orvela {

namespace {

// More slots than the longest table a command allows (a report of 750 days, or of 31 days by
// hours), and the code of a range that would need them.
constexpr qint64 kMostSlots = 20000;
constexpr quint16 kBadRangeCode = 256;

// An archive row as the slots are built from it: the moment to order by ("A") and the stored
// texts, as the database writes them.
const char kStoredColumns[] = "\"ArcDate\" AS \"A\", \"ArcDate\"::text AS \"ArcDate\", \"RecDate\"::text AS \"RecDate\", "
                              "(\"JsonVal\"::varchar) AS \"JsonVal\", (\"JsonErr\"::varchar) AS \"JsonErr\"";

// How far before the first and after the last slot with values a reading is looked for to
// estimate the slots in between.
qint64 searchSeconds(SlotStep step)
{
    const qint64 day = 86400;
    switch (step) {
    case SlotStep::Hour:
        return 5 * day;
    case SlotStep::Day:
        return 10 * day;
    case SlotStep::Month:
        return 62 * day;
    }
    return 0;
}

// The key by which rows fall into slots, in PostgreSQL's and in Qt's spelling.
QString sqlKeyFormat(SlotStep step)
{
    switch (step) {
    case SlotStep::Hour:
        return QStringLiteral("YYYY-MM-DD HH24");
    case SlotStep::Day:
        return QStringLiteral("YYYY-MM-DD");
    case SlotStep::Month:
        return QStringLiteral("YYYY-MM");
    }
    return QString();
}

QString slotKey(const QDateTime& label, SlotStep step)
{
    switch (step) {
    case SlotStep::Hour:
        return label.toString(QStringLiteral("yyyy-MM-dd HH"));
    case SlotStep::Day:
        return label.toString(QStringLiteral("yyyy-MM-dd"));
    case SlotStep::Month:
        return label.toString(QStringLiteral("yyyy-MM"));
    }
    return QString();
}

QDateTime nextLabel(const QDateTime& label, SlotStep step)
{
    switch (step) {
    case SlotStep::Hour:
        return label.addSecs(3600);
    case SlotStep::Day:
        return label.addDays(1);
    case SlotStep::Month:
        return label.addMonths(1);
    }
    return label;
}

QDateTime at(const QDate& date, int hour, int minute = 0, int second = 0)
{
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

// The first and the last label of the slots between two local times, and the end of the last
// slot: the end of its hour or day, or, for months, the given end (a report may end mid-month).
void slotBounds(SlotStep step, const QDateTime& start, const QDateTime& end, QDateTime* firstLabel,
                QDateTime* lastLabel, QDateTime* lastEnd)
{
    switch (step) {
    case SlotStep::Hour:
        *firstLabel = at(start.date(), start.time().hour());
        *lastLabel = at(end.date(), end.time().hour());
        *lastEnd = at(end.date(), end.time().hour(), 59, 59);
        return;
    case SlotStep::Day:
        *firstLabel = at(start.date(), 23);
        *lastLabel = at(end.date(), 23);
        *lastEnd = at(end.date(), 23, 59, 59);
        return;
    case SlotStep::Month:
        *firstLabel = at(QDate(start.date().year(), start.date().month(), 25), 0);
        *lastLabel = at(QDate(end.date().year(), end.date().month(), 25), 0);
        *lastEnd = end;
        return;
    }
}

PeriodSlot emptySlot(const QDateTime& label)
{
    PeriodSlot slot;
    slot.label = label;
    slot.record.arcDate = label;
    slot.record.recDate = label;
    return slot;
}

} // namespace

QString SlotBuilder::archiveRows(qint64 deviceId, const QDateTime& fromUtc, const QDateTime& toUtc,
                                 const QString& extra) const
{
    QStringList parts;
    for (int year = fromUtc.date().year(); year <= toUtc.date().year(); ++year) {
        if (!m_lookups.archiveExists(year)) {
            continue;
        }
        parts << QStringLiteral("SELECT \"Id\", ") + QLatin1String(kStoredColumns) + extra + QStringLiteral(" FROM \"") +
                     archiveTableName(year) + QStringLiteral("\" WHERE (\"DeviceId\"=") + QString::number(deviceId) + QStringLiteral(") AND (\"ArcDate\" BETWEEN ") + sqlTimestamp(fromUtc) +
                     QStringLiteral(" AND ") + sqlTimestamp(toUtc) + QLatin1Char(')');
    }
    return parts.join(QStringLiteral(" UNION ALL "));
}

quint16 SlotBuilder::build(SlotStep step, qint64 deviceId, const DeviceIdentity& identity, QDateTime* start,
                           QDateTime* end, int timeShiftMinutes, bool withCalc, QVector<PeriodSlot>* table)
{
    QDateTime label;
    QDateTime lastLabel;
    QDateTime lastEnd;
    slotBounds(step, *start, *end, &label, &lastLabel, &lastEnd);
    *start = label;
    *end = lastEnd;
    table->clear();
    // The commands bound their dates and ranges; this keeps the loops below finite whatever
    // a caller passes: an invalid label never reaches the last one.
    if (!label.isValid() || !lastLabel.isValid() || !lastEnd.isValid() ||
        slotPosition(lastLabel, step) - slotPosition(label, step) > kMostSlots) {
        return kBadRangeCode;
    }
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    // The years the table and the search for estimates around it may read, asked in one go.
    m_lookups.learnArchives(label.addSecs(-shift - searchSeconds(step)).date().year(),
                            lastEnd.addSecs(searchSeconds(step) - shift).date().year());
    const QString rows = archiveRows(deviceId, label.addSecs(-shift), lastEnd.addSecs(-shift),
                                     QStringLiteral(", to_char(\"ArcDate\" + interval '") + QString::number(timeShiftMinutes) +
                                         QStringLiteral(" minutes', '") + sqlKeyFormat(step) + QStringLiteral("') AS \"D\""));
    QSqlQuery query = m_db.newQuery();
    if (!rows.isEmpty() &&
        !m_db.select(QStringLiteral("SELECT DISTINCT ON (n1.\"D\") n1.* FROM (") + rows +
                         QStringLiteral(") n1 ORDER BY n1.\"D\", n1.\"A\" DESC;"),
                     &query)) {
        return 30;
    }
    while (!rows.isEmpty() && query.next()) {
        const QString key = columnValue(query, "D").toString();
        while (label <= lastLabel && slotKey(label, step) < key) {
            table->append(emptySlot(label));
            label = nextLabel(label, step);
        }
        if (label > lastLabel) {
            break;
        }
        PeriodSlot slot;
        slot.label = label;
        slot.stored = true;
        const quint16 code = parseArchiveRecord(columnValue(query, "ArcDate"), columnValue(query, "RecDate"),
                                                columnValue(query, "JsonVal").toString(),
                                                columnValue(query, "JsonErr").toString(), identity, timeShiftMinutes,
                                                &slot.record, m_debug);
        if (code != 0) {
            return code;
        }
        table->append(slot);
        label = nextLabel(label, step);
    }
    while (label <= lastLabel) {
        table->append(emptySlot(label));
        label = nextLabel(label, step);
    }
    return withCalc ? fillGaps(step, deviceId, identity, timeShiftMinutes, table) : 0;
}

quint16 SlotBuilder::fillGaps(SlotStep step, qint64 deviceId, const DeviceIdentity& identity, int timeShiftMinutes,
                              QVector<PeriodSlot>* table)
{
    if (table->isEmpty() || std::none_of(table->begin(), table->end(), [](const PeriodSlot& s) { return s.hasValues(); })) {
        return 0;
    }
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    const qint64 window = searchSeconds(step);
    bool found = false;
    if (!table->first().hasValues()) {
        ArchiveRecord before;
        const QDateTime first = table->first().label.addSecs(-shift);
        const quint16 code = lastRecordInWindow(deviceId, identity, first.addSecs(-window), first, timeShiftMinutes, &before, &found);
        if (code != 0) {
            return code;
        }
        fillLeadingGap(table, found ? before : ArchiveRecord(), step);
    }
    if (!table->last().hasValues()) {
        ArchiveRecord after;
        const QDateTime last = table->last().label.addSecs(-shift);
        const quint16 code = firstRecordInWindow(deviceId, identity, last, last.addSecs(window), timeShiftMinutes, &after, &found);
        if (code != 0) {
            return code;
        }
        fillTrailingGap(table, found ? after : ArchiveRecord(), step);
    }
    fillInnerGaps(table, step);
    return 0;
}

void SlotBuilder::expectDevices(const QList<qint64>& deviceIds)
{
    m_expected = deviceIds;
    m_expectedSet = QSet<qint64>(deviceIds.cbegin(), deviceIds.cend());
    m_windows.clear();
}

quint16 SlotBuilder::windowRows(const QList<qint64>& deviceIds, const QDateTime& fromUtc, const QDateTime& toUtc,
                                bool newest, WindowRows* rows)
{
    // One statement for all years of the window: per device and year the one row nearest its
    // end (or start), of which the nearest over the years wins below.
    const QString order = newest ? QStringLiteral("DESC") : QStringLiteral("ASC");
    QStringList years;
    for (int year = fromUtc.date().year(); year <= toUtc.date().year(); ++year) {
        if (m_lookups.archiveExists(year)) {
            years << QStringLiteral("(SELECT ") + QLatin1String(kStoredColumns) + QStringLiteral(" FROM \"") +
                         archiveTableName(year) + QStringLiteral("\" WHERE (\"DeviceId\"=d.\"Id\") AND (\"ArcDate\" BETWEEN ") +
                         sqlTimestamp(fromUtc) + QStringLiteral(" AND ") + sqlTimestamp(toUtc) + QStringLiteral(") ORDER BY \"ArcDate\" ") +
                         order + QStringLiteral(", \"Id\" ") + order + QStringLiteral(" LIMIT 1)");
        }
    }
    if (years.isEmpty()) {
        return 0;
    }
    QSqlQuery query = m_db.newQuery();
    if (!m_db.select(QStringLiteral("SELECT d.\"Id\", r.* FROM unnest(") + sqlIdArray(deviceIds) +
                         QStringLiteral(") AS d(\"Id\") CROSS JOIN LATERAL (") + years.join(QStringLiteral(" UNION ALL ")) +
                         QStringLiteral(") r;"),
                     &query)) {
        return 30;
    }
    while (query.next()) {
        const qint64 id = query.value(0).toLongLong();
        const WindowRow row{archiveUtcDateTime(query.value(1)), query.value(2), query.value(3), query.value(4).toString(),
                            query.value(5).toString()};
        if (!rows->contains(id) || (newest ? row.stored > rows->value(id).stored : row.stored < rows->value(id).stored)) {
            rows->insert(id, row);
        }
    }
    return 0;
}

quint16 SlotBuilder::recordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                                    const QDateTime& toUtc, int timeShiftMinutes, bool newest, ArchiveRecord* record,
                                    bool* found)
{
    *found = false;
    WindowRows single;
    const WindowRows* rows = &single;
    if (m_expectedSet.contains(deviceId)) {
        const QString key = fromUtc.toString(Qt::ISODate) + QLatin1Char('|') + toUtc.toString(Qt::ISODate) +
                            (newest ? QStringLiteral("|newest") : QStringLiteral("|oldest"));
        if (!m_windows.contains(key)) {
            WindowRows all;
            const quint16 code = windowRows(m_expected, fromUtc, toUtc, newest, &all);
            if (code != 0) {
                return code;
            }
            m_windows.insert(key, all);
        }
        rows = &m_windows[key];
    } else {
        const quint16 code = windowRows({deviceId}, fromUtc, toUtc, newest, &single);
        if (code != 0) {
            return code;
        }
    }
    if (!rows->contains(deviceId)) {
        return 0;
    }
    *found = true;
    const WindowRow& row = (*rows)[deviceId];
    return parseArchiveRecord(row.arcDate, row.recDate, row.jsonVal, row.jsonErr, identity, timeShiftMinutes, record, m_debug);
}

quint16 SlotBuilder::lastRecordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                                        const QDateTime& toUtc, int timeShiftMinutes, ArchiveRecord* record, bool* found)
{
    return recordInWindow(deviceId, identity, fromUtc, toUtc, timeShiftMinutes, true, record, found);
}

quint16 SlotBuilder::firstRecordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                                         const QDateTime& toUtc, int timeShiftMinutes, ArchiveRecord* record, bool* found)
{
    return recordInWindow(deviceId, identity, fromUtc, toUtc, timeShiftMinutes, false, record, found);
}

quint16 SlotBuilder::lastRecordOfDay(qint64 deviceId, const DeviceIdentity& identity, const QDate& localDay,
                                     int timeShiftMinutes, ArchiveRecord* record, bool* found)
{
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    return lastRecordInWindow(deviceId, identity, at(localDay, 0).addSecs(-shift), at(localDay, 23, 59, 59).addSecs(-shift),
                              timeShiftMinutes, record, found);
}

quint16 SlotBuilder::lastRecordOfHour(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& localHour,
                                      int timeShiftMinutes, ArchiveRecord* record, bool* found)
{
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    const QDateTime hour = at(localHour.date(), localHour.time().hour());
    return lastRecordInWindow(deviceId, identity, hour.addSecs(-shift), hour.addSecs(3599 - shift), timeShiftMinutes,
                              record, found);
}

} // namespace orvela
