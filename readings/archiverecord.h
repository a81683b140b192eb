#pragma once

#include "db/deviceidentity.h"

#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

namespace orvela {

// One element of an archive row's "JsonVal" array.
struct ArchiveValue {
    quint16 titleId = 0; // what the value is; see titleName()
    quint16 edId = 0;    // its unit; see unitName()
    QString val;         // decimal text with "." as the point; empty when stored as a non-string
    qint32 prefixNum = 0;  // channel; 0 or less means none
    qint32 postfixNum = 0; // tariff, pipe or other sub-index; 0 or less means none
};

// One element of an archive row's "JsonErr" array.
struct ArchiveError {
    qint64 errorCode = 0; // bit field, read by device class; see errorFlagsText()
    qint32 prefixNum = 0;
    qint32 postfixNum = 0;
    bool fixed = false; // the "fixed" key is present: the errors were acknowledged
};

// A parsed archive row. Both times are the local wall-clock time of the device's address
// (stored UTC plus the address's shift). They are held with the Qt::UTC spec so that no
// arithmetic on them ever meets the machine's own zone or its summer time: read their fields,
// never convert them.
struct ArchiveRecord {
    QDateTime arcDate; // when the reading was taken
    QDateTime recDate; // when it was received
    QVector<ArchiveValue> values;
    QVector<ArchiveError> errors;
    QString errorText; // the lines of all error elements, joined by "\n"
};

// Receives the detail of a refused row for the debug log; may be empty.
using DebugSink = std::function<void(const QString&)>;

// "ArchiveTable" and the year in four digits: the only way a yearly table name is built.
QString archiveTableName(int year);

// A stored UTC moment as a date-time with the Qt::UTC spec; invalid when it is not one.
// Accepts a QDateTime or a text "yyyy-MM-dd HH:mm:ss[.f]" ("T" also allowed). A QDateTime
// in local time, which is how the database driver hands over a column without a zone, is
// taken field by field, so the machine's zone never moves it. A text or QDateTime with an
// offset is converted to UTC.
QDateTime archiveUtcDateTime(const QVariant& stored);

// A UTC moment moved into the local time of an address, kept with the Qt::UTC spec. A
// date-time in local time is read field by field, as archiveUtcDateTime does.
QDateTime shiftedToLocal(const QDateTime& utc, int timeShiftMinutes);

// Reads one element of "JsonVal" / "JsonErr". False when it is not an object or lacks a
// required key; numbers that are missing, fractional or out of range read as 0.
bool readArchiveValue(const QJsonValue& element, ArchiveValue* value);
bool readArchiveError(const QJsonValue& element, ArchiveError* error);

// Parse the "JsonVal" / "JsonErr" text of a row and append its elements. Return 0, or 131
// after telling the sink why; the elements before the faulty one stay appended.
quint16 parseArchiveValues(const QString& jsonVal, QVector<ArchiveValue>* values,
                           const DebugSink& debug = DebugSink());
quint16 parseArchiveErrors(const QString& jsonErr, QVector<ArchiveError>* errors,
                           const DebugSink& debug = DebugSink());

// A row carries errors when its first error element has a code above 0, and counts as
// acknowledged when that element has "fixed".
bool carriesErrors(const QVector<ArchiveError>& errors);
bool isAcknowledged(const QVector<ArchiveError>& errors);

// The error lines of all elements of a row, joined by "\n"; elements without text add nothing.
QString archiveErrorsText(const DeviceIdentity& identity, const QVector<ArchiveError>& errors);

// Reads one archive row: the stored UTC times "ArcDate" and "RecDate" (see
// archiveUtcDateTime), the texts of "JsonVal" and "JsonErr", the device, and the address's
// shift in minutes. Returns 0, 269 (bad ArcDate), 270 (bad RecDate) or 131 (bad JSON, the
// reason told to the sink). On 131 the elements read before the fault stay in the record.
quint16 parseArchiveRecord(const QVariant& arcDate, const QVariant& recDate,
                           const QString& jsonVal, const QString& jsonErr,
                           const DeviceIdentity& identity, int timeShiftMinutes,
                           ArchiveRecord* record, const DebugSink& debug = DebugSink());

} // namespace orvela
