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
// Devices are read together until a statement would return about this many slots.
constexpr int kSlotsPerStatement = 20000;

// An archive row as the slots are built from it: the moment to order by ("A", never read back)
// and the stored texts, as the database writes them.
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

// The start of the hour, day or month a label lies in.
QDateTime slotStart(const QDateTime& label, SlotStep step)
{
    switch (step) {
    case SlotStep::Hour:
        return at(label.date(), label.time().hour());
    case SlotStep::Day:
        return at(label.date(), 0);
    case SlotStep::Month:
        return at(QDate(label.date().year(), label.date().month(), 1), 0);
    }
    return label;
}

// The exclusive upper bound of a window as an array element of a statement, to the
// microsecond: a closed window ends one microsecond after its end.
QString boundText(const QDateTime& time, bool closed = false)
{
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + (closed ? QStringLiteral("001") : QStringLiteral("000"));
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

// The local bounds of every slot: from its label's hour, day or month on (the first slot from
// its label itself) up to the next slot, the last one up to the end of the table.
QVector<SlotBuilder::SlotWindow> SlotBuilder::slotWindows(SlotStep step, const QDateTime& firstLabel,
                                                          const QDateTime& lastLabel, const QDateTime& lastEnd)
{
    QVector<SlotWindow> windows;
    for (QDateTime label = firstLabel; label <= lastLabel; label = nextLabel(label, step)) {
        windows.append(SlotWindow{label, windows.isEmpty() ? label : slotStart(label, step), slotStart(nextLabel(label, step), step)});
    }
    if (!windows.isEmpty()) {
        windows.last().to = lastEnd;
        windows.last().closed = true; // the end itself still counts
    }
    return windows;
}

quint16 SlotBuilder::slotRows(const QList<qint64>& deviceIds, const QVector<SlotWindow>& windows, int timeShiftMinutes,
                              SlotRows* rows)
{
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    const QDateTime fromUtc = windows.first().from.addSecs(-shift);
    const QDateTime toUtc = windows.last().to.addSecs(-shift);
    // One probe per device and slot on the ("DeviceId", "ArcDate") index, for the slots whose
    // stored window lies in each yearly table: only the rows shown are read.
    QStringList years;
    for (int year = fromUtc.date().year(); year <= toUtc.date().year(); ++year) {
        if (!m_lookups.archiveExists(year)) {
            continue;
        }
        const QDateTime yearStart(QDate(year, 1, 1), QTime(0, 0), Qt::UTC);
        const QDateTime yearEnd(QDate(year + 1, 1, 1), QTime(0, 0), Qt::UTC);
        QStringList froms;
        QStringList tos;
        QStringList numbers;
        for (int i = 0; i < windows.size(); ++i) {
            const QDateTime from = windows.at(i).from.addSecs(-shift);
            const QDateTime to = windows.at(i).to.addSecs(-shift);
            if (from < yearEnd && (to > yearStart || (windows.at(i).closed && to == yearStart))) {
                froms << QLatin1Char('"') + boundText(from) + QLatin1Char('"');
                tos << QLatin1Char('"') + boundText(to, windows.at(i).closed) + QLatin1Char('"');
                numbers << QString::number(i);
            }
        }
        years << QStringLiteral("SELECT d.\"Id\" AS \"DeviceId\", s.n AS \"N\", r.* FROM unnest(") + sqlIdArray(deviceIds) +
                     QStringLiteral(") AS d(\"Id\") CROSS JOIN unnest(") + sqlText(QLatin1Char('{') + froms.join(QLatin1Char(',')) + QLatin1Char('}')) +
                     QStringLiteral("::timestamp[], ") + sqlText(QLatin1Char('{') + tos.join(QLatin1Char(',')) + QLatin1Char('}')) +
                     QStringLiteral("::timestamp[], ") + sqlText(QLatin1Char('{') + numbers.join(QLatin1Char(',')) + QLatin1Char('}')) +
                     QStringLiteral("::integer[]) AS s(lo, hi, n) CROSS JOIN LATERAL (SELECT \"Id\", ") + QLatin1String(kStoredColumns) +
                     QStringLiteral(" FROM \"") + archiveTableName(year) +
                     QStringLiteral("\" WHERE (\"DeviceId\"=d.\"Id\") AND (\"ArcDate\" >= s.lo) AND (\"ArcDate\" < s.hi) "
                                    "ORDER BY \"A\" DESC, \"Id\" DESC LIMIT 1) r");
    }
    if (years.isEmpty()) {
        return 0;
    }
    QSqlQuery query = m_db.newQuery();
    if (!m_db.select(years.join(QStringLiteral(" UNION ALL ")) + QLatin1Char(';'), &query)) {
        return 30;
    }
    while (query.next()) {
        // The stored moment is read from its text: the driver would build the timestamp column
        // through the machine's local time, at the cost of a time-zone look-up per row.
        const StoredSlot row{query.value(1).toInt(), query.value(2).toLongLong(), archiveUtcDateTime(query.value(4)),
                             query.value(4), query.value(5), query.value(6).toString(), query.value(7).toString()};
        StoredSlot& kept = (*rows)[query.value(0).toLongLong()][row.slot];
        // A slot whose stored window spans New Year is read from both tables: the newer row wins.
        if (!kept.stored.isValid() || row.stored > kept.stored || (row.stored == kept.stored && row.id > kept.id)) {
            kept = row;
        }
    }
    return 0;
}

// The stored rows of a device's slots: read for all the devices of the request that share the
// window, some at a time, or for this device alone.
quint16 SlotBuilder::rowsOfDevice(qint64 deviceId, const QVector<SlotWindow>& windows, int timeShiftMinutes,
                                  QHash<int, StoredSlot>* rows)
{
    const int index = m_expected.indexOf(deviceId);
    if (index < 0) {
        SlotRows single;
        const quint16 code = slotRows({deviceId}, windows, timeShiftMinutes, &single);
        *rows = single.value(deviceId);
        return code;
    }
    const QString key = windows.first().from.toString(Qt::ISODate) + QLatin1Char('|') +
                        windows.last().to.toString(Qt::ISODateWithMs) + QLatin1Char('|') + QString::number(windows.size()) +
                        QLatin1Char('|') + QString::number(timeShiftMinutes);
    if (m_slotBatch.key != key) {
        m_slotBatch = SlotBatch{key, QSet<qint64>(), QSet<qint64>(), SlotRows()};
    }
    if (!m_slotBatch.devices.contains(deviceId)) {
        // This device and the next ones not yet built, in the order the command announced them,
        // as many as keep one statement's rows within bounds.
        const int count = qMax(1, kSlotsPerStatement / windows.size());
        QList<qint64> batch{deviceId};
        for (int step = 1; step < m_expected.size() && batch.size() < count; ++step) {
            const qint64 next = m_expected.at((index + step) % m_expected.size());
            if (!m_slotBatch.built.contains(next)) {
                batch << next;
            }
        }
        m_slotBatch.rows.clear();
        m_slotBatch.devices = QSet<qint64>(batch.cbegin(), batch.cend());
        const quint16 code = slotRows(batch, windows, timeShiftMinutes, &m_slotBatch.rows);
        if (code != 0) {
            return code;
        }
    }
    *rows = m_slotBatch.rows.take(deviceId);
    m_slotBatch.devices.remove(deviceId);
    m_slotBatch.built.insert(deviceId);
    return 0;
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
    const QVector<SlotWindow> windows = slotWindows(step, label, lastLabel, lastEnd);
    if (windows.isEmpty()) {
        return 0;
    }
    const qint64 shift = static_cast<qint64>(timeShiftMinutes) * 60;
    // The years the table and the search for estimates around it may read, asked in one go.
    m_lookups.learnArchives(label.addSecs(-shift - searchSeconds(step)).date().year(),
                            lastEnd.addSecs(searchSeconds(step) - shift).date().year());
    QHash<int, StoredSlot> rows;
    const quint16 read = rowsOfDevice(deviceId, windows, timeShiftMinutes, &rows);
    if (read != 0) {
        return read;
    }
    for (int i = 0; i < windows.size(); ++i) {
        if (!rows.contains(i)) {
            table->append(emptySlot(windows.at(i).label));
            continue;
        }
        const StoredSlot& row = rows[i];
        PeriodSlot slot;
        slot.label = windows.at(i).label;
        slot.stored = true;
        const quint16 code = parseArchiveRecord(row.arcDate, row.recDate, row.jsonVal, row.jsonErr, identity,
                                                timeShiftMinutes, &slot.record, m_debug);
        if (code != 0) {
            return code;
        }
        table->append(slot);
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
                         sqlTimestamp(fromUtc) + QStringLiteral(" AND ") + sqlTimestamp(toUtc) + QStringLiteral(") ORDER BY \"A\" ") +
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
        const WindowRow row{archiveUtcDateTime(query.value(2)), query.value(2), query.value(3), query.value(4).toString(),
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

} // namespace orvela
