#pragma once

#include "readings/archiverecord.h"
#include "readings/unitsettings.h"

#include <QDate>
#include <QDateTime>
#include <QJsonArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVector>

class QSqlQuery;

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

    // A device whose newest reading is asked for.
    struct ReadingDevice {
        qint64 id = 0;
        DeviceIdentity identity;
        qint64 transKoef = 1; // 1: the values as stored
    };
    struct LatestReading {
        QDateTime time; // local; the window's start when there is no reading
        QVector<ArchiveValue> values;
    };
    // The newest reading of each device between (date - deltaDays) 00:00:00 and date 23:59:59
    // local time, its accumulating values scaled by the coefficient and put into the client's
    // units; the devices share one address and so one time shift. Read for all devices at
    // once, parsed device by device in their order. Returns 0, 30 (a failed statement) or the
    // archive parse code of the first device whose reading does not parse.
    quint16 latestDeviceReadings(const QVector<ReadingDevice>& devices, const QDate& date, int deltaDays,
                                 int timeShiftMinutes, QVector<LatestReading>* readings);

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
    // The same for many devices at once, each in its own offset; texts in the devices' order.
    struct TextDevice {
        qint64 id = 0;
        DeviceIdentity identity;
        int timeShiftMinutes = 0;
        qint64 transKoef = 1;
    };
    QVector<ReadingTexts> latestReadingTexts(const QVector<TextDevice>& devices, const QDateTime& nowUtc);

    // The error lines of the newest reading with errors in [toTime - days, toTime] (UTC),
    // preceded by its local time as "[dd.MM.yyyy HH:mm:ss]"; empty when there is none.
    QString lastErrorText(qint64 deviceId, const DeviceIdentity& identity, const QDateTime& toTimeUtc, int days,
                          int timeShiftMinutes);
    // The same for many devices at once, each with its own window end; texts in their order.
    struct ErrorWindow {
        qint64 deviceId = 0;
        DeviceIdentity identity;
        QDateTime toUtc;
        int timeShiftMinutes = 0;
    };
    QVector<QString> lastErrorTexts(const QVector<ErrorWindow>& windows, int days);

    // The verification dates in force of many devices; a device without one is not in *dates.
    // 0 or 132.
    quint16 verificationDates(const QList<qint64>& deviceIds, QHash<qint64, QDate>* dates);

    // The newest readings (at most perDevice per device) of the last `days` days whose first
    // error element has a code and no acknowledgement, for many devices at once. The entries
    // of each device, newest first, are {"id", "date", "dateUTC", "errorCode", "prefixNum",
    // "postfixNum"}. 0 or 132.
    quint16 recentUnfixedErrors(const QList<qint64>& deviceIds, const QHash<qint64, int>& timeShifts, int days,
                                int perDevice, const QDateTime& nowUtc, QHash<qint64, QJsonArray>* entries);

    // Whether the yearly archive table exists; the answer is kept for the request.
    bool archiveExists(int year);
    // Asks at once about every year of a range not asked about yet, for a reader that knows
    // which years it may touch.
    void learnArchives(int firstYear, int lastYear);

private:
    // A stored archive row before it is parsed.
    struct StoredReading {
        QVariant arcDate;
        QVariant recDate;
        QString jsonVal;
        QString jsonErr;
    };
    // The newest row of each device between two stored times in one yearly table.
    quint16 newestInWindow(const QList<qint64>& deviceIds, int year, const QDateTime& fromUtc, const QDateTime& toUtc,
                           QHash<qint64, StoredReading>* rows);
    void byYears(const QVector<QList<int>>& years, const std::function<QSet<int>(int year, const QList<int>& devices)>& read);
    ReadingTexts readingTexts(const TextDevice& device, const QSqlQuery& row) const;
    QString errorText(const ErrorWindow& window, const QVariant& arcDate, const QString& jsonErr) const;
    quint16 presentNewest(const ReadingDevice& device, const QVector<QHash<qint64, StoredReading>>& years,
                          int timeShiftMinutes, LatestReading* reading);

    Database& m_db;
    const UserUnitSettings& m_units;
    DebugSink m_debug;
    QHash<int, bool> m_archives; // whether the archive table of a year exists
};

// The condition, on a row's "JsonErr", that its first element is an error (a code above 0)
// not yet acknowledged. A stored array or element of another shape, or a code that is no
// whole JSON number, never matches, rather than failing the statement.
QString unfixedErrorCondition();

// The timestamp literal of a moment: 'yyyy-MM-dd HH:mm:ss'.
QString sqlTimestamp(const QDateTime& time);

} // namespace orvela
