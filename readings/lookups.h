#pragma once

#include "readings/archiverecord.h"
#include "readings/unitsettings.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <QVector>

namespace orvela {

class Database;

// The archive look-ups the reading commands share: the latest reading of a device, its latest
// error, its unacknowledged errors and its last verification. Times in and out are local
// times of the device's address (UTC plus its shift in minutes) held with the Qt::UTC spec,
// except where a name says UTC; nothing here uses the machine's own zone.
class ReadingLookups {
public:
    ReadingLookups(Database& db, const UserUnitSettings& units, const DebugSink& debug = DebugSink())
        : m_db(db), m_units(units), m_debug(debug)
    {
    }

    // The newest reading of the device between (date - deltaDays) 00:00:00 and date 23:59:59
    // local time, its accumulating values scaled by the coefficient and put into the client's
    // units. Returns 0 (no reading: no values, *time = the window's start), 30 (a failed
    // statement) or the archive parse codes.
    quint16 latestDeviceReading(qint64 deviceId, const DeviceIdentity& identity, const QDate& date, int deltaDays,
                                int timeShiftMinutes, qint64 transKoef, QDateTime* time,
                                QVector<ArchiveValue>* values);

    // The newest reading of the device this year or the two before, as display texts.
    struct ReadingTexts {
        QString values;  // one line per value
        QString errors;  // one line per error flag
        QString arcTime; // "HH:mm:ss\ndd.MM.yyyy" of the reading
        QString recTime; // the same of its reception
        QDateTime arcLocal; // the reading's local time; invalid when there is none
        QDateTime recLocal;
    };
    ReadingTexts latestReadingText(qint64 deviceId, const DeviceIdentity& identity, int timeShiftMinutes,
                                   qint64 transKoef, const QDateTime& nowUtc);

    // The error lines of the newest reading with errors in [toTime - days, toTime] (UTC),
    // preceded by its local time as "[dd.MM.yyyy HH:mm:ss]"; empty when there is none.
    QString lastErrorText(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& toTimeUtc, int days,
                          int timeShiftMinutes);

    // The verification date in force; *found false when there is none. 0 or 132.
    quint16 lastVerificationDate(qint64 deviceId, QDate* date, bool* found);

    // The newest readings (at most perDevice per device) of the last `days` days whose first
    // error element has a code and no acknowledgement, for many devices at once. The entries
    // of each device, newest first, are {"id", "date", "dateUTC", "errorCode", "prefixNum",
    // "postfixNum"}. 0 or 132.
    quint16 recentUnfixedErrors(const QList<qint64>& deviceIds, const QHash<qint64, int>& timeShifts, int days,
                                int perDevice, const QDateTime& nowUtc, QHash<qint64, QJsonArray>* entries);

    // Whether the yearly archive table exists; the answer is kept for the request.
    bool archiveExists(int year);

private:
    Database& m_db;
    const UserUnitSettings& m_units;
    DebugSink m_debug;
    QHash<int, bool> m_archives;
};

// The condition, on a row's "JsonErr", that its first element is an error (a code above 0)
// not yet acknowledged. A stored array or element of another shape, or a code that is no
// whole JSON number, never matches, rather than failing the statement.
QString unfixedErrorCondition();

// The timestamp literal of a moment: 'yyyy-MM-dd HH:mm:ss'.
QString sqlTimestamp(const QDateTime& time);

} // namespace orvela
