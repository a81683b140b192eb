#include "readings/archiverecord.h"

#include "readings/vocabulary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>

#include <cmath>
#include <limits>

namespace orvela {

namespace {

// A whole JSON number within [low, high]; anything else reads as 0, because a half-read
// number would name the wrong quantity, unit or channel.
qint64 jsonInteger(const QJsonValue& value, double low, double high)
{
    if (!value.isDouble()) {
        return 0;
    }
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high) {
        return 0;
    }
    return static_cast<qint64>(number);
}

qint32 jsonInt32(const QJsonValue& value)
{
    return static_cast<qint32>(jsonInteger(value, std::numeric_limits<qint32>::min(),
                                           std::numeric_limits<qint32>::max()));
}

quint16 jsonUInt16(const QJsonValue& value)
{
    return static_cast<quint16>(jsonInteger(value, 0, std::numeric_limits<quint16>::max()));
}

bool hasKeys(const QJsonObject& object, std::initializer_list<const char*> keys)
{
    for (const char* key : keys) {
        if (!object.contains(QLatin1String(key))) {
            return false;
        }
    }
    return true;
}

void tell(const DebugSink& debug, const QString& text)
{
    if (debug) {
        debug(text);
    }
}

// The position of a zone designator ("Z", "+03", "-05:30") after the time, or -1.
int zonePosition(const QString& iso)
{
    for (int i = iso.size() - 1; i > 10; --i) {
        const QChar c = iso.at(i);
        if (c == QLatin1Char('Z') || c == QLatin1Char('+') || c == QLatin1Char('-')) {
            return i;
        }
    }
    return -1;
}

QDateTime utcFromText(const QString& text)
{
    QString iso = text.trimmed();
    if (iso.size() < 19 || (iso.at(10) != QLatin1Char(' ') && iso.at(10) != QLatin1Char('T'))) {
        return QDateTime();
    }
    iso[10] = QLatin1Char('T');
    const int zoneAt = zonePosition(iso);
    if (zoneAt < 0) {
        // Built from its fields: parsing the whole text would pass through local time and
        // lose the hour that summer time skips.
        const QDate date = QDate::fromString(iso.left(10), Qt::ISODate);
        const QTime time = QTime::fromString(iso.mid(11), Qt::ISODateWithMs);
        if (!date.isValid() || !time.isValid()) {
            return QDateTime();
        }
        return QDateTime(date, time, Qt::UTC);
    }
    // The database writes a whole-hour offset as "+03"; the parser wants "+03:00".
    if (iso.size() - zoneAt == 3) {
        iso += QStringLiteral(":00");
    }
    const QDateTime parsed = QDateTime::fromString(iso, Qt::ISODate);
    return parsed.isValid() ? parsed.toUTC() : QDateTime();
}

QDateTime utcFromDateTime(const QDateTime& stored)
{
    if (stored.timeSpec() == Qt::UTC) {
        return stored;
    }
    if (stored.timeSpec() != Qt::LocalTime) {
        return stored.isValid() ? stored.toUTC() : QDateTime();
    }
    // The fields are the stored UTC values; a local time in the skipped summer-time hour is
    // invalid as local time but still carries them.
    if (!stored.date().isValid() || !stored.time().isValid()) {
        return QDateTime();
    }
    return QDateTime(stored.date(), stored.time(), Qt::UTC);
}

// The local time of one stored column, or an invalid date-time.
QDateTime localTime(const QVariant& stored, int timeShiftMinutes)
{
    const QDateTime utc = archiveUtcDateTime(stored);
    return utc.isValid() ? shiftedToLocal(utc, timeShiftMinutes) : QDateTime();
}

} // namespace

QString archiveTableName(int year)
{
    return QStringLiteral("ArchiveTable") + QStringLiteral("%1").arg(year, 4, 10, QLatin1Char('0'));
}

QDateTime archiveUtcDateTime(const QVariant& stored)
{
    if (stored.isNull()) {
        return QDateTime();
    }
    if (stored.userType() == QMetaType::QDateTime) {
        return utcFromDateTime(stored.toDateTime());
    }
    if (!stored.canConvert<QString>()) {
        return QDateTime();
    }
    return utcFromText(stored.toString());
}

QDateTime shiftedToLocal(const QDateTime& utc, int timeShiftMinutes)
{
    return utcFromDateTime(utc).addSecs(static_cast<qint64>(timeShiftMinutes) * 60);
}

bool readArchiveValue(const QJsonValue& element, ArchiveValue* value)
{
    const QJsonObject object = element.toObject();
    if (!element.isObject() ||
        !hasKeys(object, {"titleId", "edId", "val", "prefixNum", "postfixNum"})) {
        return false;
    }
    value->titleId = jsonUInt16(object.value(QLatin1String("titleId")));
    value->edId = jsonUInt16(object.value(QLatin1String("edId")));
    value->val = object.value(QLatin1String("val")).toString();
    value->prefixNum = jsonInt32(object.value(QLatin1String("prefixNum")));
    value->postfixNum = jsonInt32(object.value(QLatin1String("postfixNum")));
    return true;
}

bool readArchiveError(const QJsonValue& element, ArchiveError* error)
{
    const QJsonObject object = element.toObject();
    if (!element.isObject() || !hasKeys(object, {"errorCode", "prefixNum", "postfixNum"})) {
        return false;
    }
    // Whole numbers of a double are exact up to 2^53, far beyond any bit field of a meter.
    const double exact = 9007199254740992.0;
    error->errorCode = jsonInteger(object.value(QLatin1String("errorCode")), -exact, exact);
    error->prefixNum = jsonInt32(object.value(QLatin1String("prefixNum")));
    error->postfixNum = jsonInt32(object.value(QLatin1String("postfixNum")));
    error->fixed = object.contains(QLatin1String("fixed"));
    return true;
}

quint16 parseArchiveValues(const QString& jsonVal, QVector<ArchiveValue>* values,
                           const DebugSink& debug)
{
    const QJsonDocument document = QJsonDocument::fromJson(jsonVal.toUtf8());
    if (!document.isArray()) {
        tell(debug, QObject::tr("Неправильный формат поля JsonVal."));
        return 131;
    }
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject()) {
            tell(debug, QObject::tr("Неправильный формат массива JsonVal."));
            return 131;
        }
        ArchiveValue value;
        if (!readArchiveValue(element, &value)) {
            tell(debug, QObject::tr("Неправильный формат объекта в массиве JsonVal."));
            return 131;
        }
        values->append(value);
    }
    return 0;
}

quint16 parseArchiveErrors(const QString& jsonErr, QVector<ArchiveError>* errors,
                           const DebugSink& debug)
{
    const QJsonDocument document = QJsonDocument::fromJson(jsonErr.toUtf8());
    if (!document.isArray()) {
        tell(debug, QObject::tr("Неправильный формат поля JsonErr."));
        return 131;
    }
    for (const QJsonValue& element : document.array()) {
        if (!element.isObject()) {
            tell(debug, QObject::tr("Неправильный формат массива JsonErr."));
            return 131;
        }
        ArchiveError error;
        if (!readArchiveError(element, &error)) {
            tell(debug, QObject::tr("Неправильный формат объекта в массиве JsonErr."));
            return 131;
        }
        errors->append(error);
    }
    return 0;
}

bool carriesErrors(const QVector<ArchiveError>& errors)
{
    return !errors.isEmpty() && errors.first().errorCode > 0;
}

bool isAcknowledged(const QVector<ArchiveError>& errors)
{
    return !errors.isEmpty() && errors.first().fixed;
}

QString archiveErrorsText(const DeviceIdentity& identity, const QVector<ArchiveError>& errors)
{
    QString text;
    for (const ArchiveError& error : errors) {
        const QString lines =
            errorFlagsText(identity, error.errorCode, error.prefixNum, error.postfixNum);
        if (lines.isEmpty()) {
            continue;
        }
        if (!text.isEmpty()) {
            text += QLatin1Char('\n');
        }
        text += lines;
    }
    return text;
}

quint16 parseArchiveRecord(const QVariant& arcDate, const QVariant& recDate,
                           const QString& jsonVal, const QString& jsonErr,
                           const DeviceIdentity& identity, int timeShiftMinutes,
                           ArchiveRecord* record, const DebugSink& debug)
{
    *record = ArchiveRecord();
    record->arcDate = localTime(arcDate, timeShiftMinutes);
    if (!record->arcDate.isValid()) {
        return 269;
    }
    record->recDate = localTime(recDate, timeShiftMinutes);
    if (!record->recDate.isValid()) {
        return 270;
    }
    const quint16 valuesCode = parseArchiveValues(jsonVal, &record->values, debug);
    if (valuesCode != 0) {
        return valuesCode;
    }
    const quint16 errorsCode = parseArchiveErrors(jsonErr, &record->errors, debug);
    if (errorsCode != 0) {
        return errorsCode;
    }
    record->errorText = archiveErrorsText(identity, record->errors);
    return 0;
}

} // namespace orvela
