#pragma once

#include "readings/slots.h"

#include <QHash>
#include <QSet>
#include <QVariant>

#include <functional>

namespace orvela {

class Database;
class ReadingLookups;

// Builds the slot tables of a device from its archive: the newest reading of each local hour,
// day or month, every slot present, and, when asked, the gaps estimated from the neighbouring
// readings. A yearly table that does not exist holds no readings.
class SlotBuilder {
public:
    SlotBuilder(Database& db, ReadingLookups& lookups, const DebugSink& debug = DebugSink())
        : m_db(db), m_lookups(lookups), m_debug(debug)
    {
    }

    // Slots from start to end (local times), adjusted to the step: daily slots are labelled
    // 23:00 of each day from start's date to end's date; hourly ones each whole hour from
    // start's hour to end's hour; monthly ones the 25th of each month from start's month to
    // end's month, 00:00, the last one reading up to end itself. start and end come back
    // adjusted. Returns 0, 256 (labels past the dates a command accepts, or more slots than
    // any table may have), 30 (a statement failed)
    // or the archive parse codes.
    quint16 build(SlotStep step, qint64 deviceId, const DeviceIdentity& identity, QDateTime* start, QDateTime* end,
                  int timeShiftMinutes, bool withCalc, QVector<PeriodSlot>* table);

    // The devices the builds that follow are for: a search window that one of them needs is
    // read for all of them with one statement per yearly table.
    void expectDevices(const QList<qint64>& deviceIds);

    // The newest or the oldest reading of the device between two stored (UTC) times; *found
    // tells whether there was one. 0, 30 or the archive parse codes.
    quint16 lastRecordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                               const QDateTime& toUtc, int timeShiftMinutes, ArchiveRecord* record, bool* found);
    quint16 firstRecordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                                const QDateTime& toUtc, int timeShiftMinutes, ArchiveRecord* record, bool* found);

private:
    // One slot of a table: its label and the local times its reading is taken from, [from,
    // to), or [from, to] for the last slot of a table.
    struct SlotWindow {
        QDateTime label;
        QDateTime from;
        QDateTime to;
        bool closed = false;
    };
    static QVector<SlotWindow> slotWindows(SlotStep step, const QDateTime& firstLabel, const QDateTime& lastLabel,
                                           const QDateTime& lastEnd);
    // The stored reading of a slot, before it is parsed.
    struct StoredSlot {
        int slot = -1;
        qint64 id = 0;
        QDateTime stored;
        QVariant arcDate;
        QVariant recDate;
        QString jsonVal;
        QString jsonErr;
    };
    using SlotRows = QHash<qint64, QHash<int, StoredSlot>>; // by device, then by slot
    // The newest row of each slot of each device, with one statement over the yearly tables.
    quint16 slotRows(const QList<qint64>& deviceIds, const QVector<SlotWindow>& windows, int timeShiftMinutes,
                     SlotRows* rows);
    quint16 rowsOfDevice(qint64 deviceId, const QVector<SlotWindow>& windows, int timeShiftMinutes,
                         QHash<int, StoredSlot>* rows);
    // The slot rows read for several expected devices at once, until each is built.
    struct SlotBatch {
        QString key;          // the window they were read for
        QSet<qint64> devices; // read and not yet built
        QSet<qint64> built;   // built from an earlier batch of this window
        SlotRows rows;
    };
    // A stored row found in a search window, before it is parsed.
    struct WindowRow {
        QDateTime stored;
        QVariant arcDate;
        QVariant recDate;
        QString jsonVal;
        QString jsonErr;
    };
    using WindowRows = QHash<qint64, WindowRow>;
    quint16 recordInWindow(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& fromUtc,
                           const QDateTime& toUtc, int timeShiftMinutes, bool newest, ArchiveRecord* record,
                           bool* found);
    // The newest (or oldest) row of each device in the window, over every yearly table it touches.
    quint16 windowRows(const QList<qint64>& deviceIds, const QDateTime& fromUtc, const QDateTime& toUtc, bool newest,
                       WindowRows* rows);
    quint16 fillGaps(SlotStep step, qint64 deviceId, const DeviceIdentity& identity, int timeShiftMinutes,
                     QVector<PeriodSlot>* table);

    Database& m_db;
    ReadingLookups& m_lookups;
    DebugSink m_debug;
    QList<qint64> m_expected;
    QSet<qint64> m_expectedSet;
    QHash<QString, WindowRows> m_windows; // rows of the expected devices, by window
    SlotBatch m_slotBatch;
};

} // namespace orvela
