#include "cgi/client/channelmeter.h"

#include "cgi/client/datafields.h"
#include "db/sqltext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <climits>
#include <cmath>

namespace client {

namespace {

constexpr qint64 kLargestIdentNum = 99999999;
constexpr qint64 kLargestByte = 255;
constexpr double kLowestStartValue = -99999998;
constexpr int kLongestNote = 200;
// Column sizes: "DeviceTable"."ZavNum", "ConcTable"."Channel" (smallint), "TransKoef" (integer).
constexpr int kLongestZavNum = 20;
constexpr qint64 kLargestChannel = 32767;
// Fields without a format code of their own are refused as data of an unknown format.
constexpr quint16 kNoFieldCode = 329;
constexpr int kLongestDevEui = 16;

bool isManufacturerCode(const QString& manId)
{
    static const QRegularExpression letters(QStringLiteral("^[A-Z]{3}$"));
    return letters.match(manId).hasMatch();
}

bool inRange(qint64 value, qint64 highest)
{
    return value >= 0 && value <= highest;
}

// A JSON number as the decimal text JSON itself would write.
QString numberText(double value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A required number of a channel element: absent, fractional or not a number reads as the
// fallback, which its range check then refuses.
qint64 integerOf(const QJsonObject& object, const char* key, qint64 fallback)
{
    return jsonInteger(object.value(QLatin1String(key)), fallback);
}

double doubleOf(const QJsonObject& object, const char* key, double fallback)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? value.toDouble() : fallback;
}

// The identity's ranges in the order clients are told about them.
quint16 identityRanges(const QJsonObject& object, GroupDevice* device)
{
    device->manId = jsonString(object.value(QStringLiteral("manId"))).toUpper();
    if (!isManufacturerCode(device->manId)) {
        return 103;
    }
    device->identNum = integerOf(object, "identNum", -1);
    if (!inRange(device->identNum, kLargestIdentNum)) {
        return 15;
    }
    device->ver = integerOf(object, "ver", -1);
    if (!inRange(device->ver, kLargestByte)) {
        return 17;
    }
    device->devType = integerOf(object, "devType", -1);
    if (!inRange(device->devType, kLargestByte)) {
        return 84;
    }
    device->modelId = integerOf(object, "modelId", -1);
    if (!inRange(device->modelId, INT_MAX)) {
        return 216;
    }
    device->zavNum = jsonString(object.value(QStringLiteral("zavNum")));
    return device->zavNum.toUcs4().size() > kLongestZavNum ? kNoFieldCode : 0;
}

quint16 readPulses(const QJsonObject& element, ChannelMeter* meter)
{
    meter->titleId = integerOf(element, "titleId", -1);
    if (!inRange(meter->titleId, 65535)) {
        return 317;
    }
    meter->edId = integerOf(element, "edId", -1);
    if (!inRange(meter->edId, 65535)) {
        return 318;
    }
    meter->impW = doubleOf(element, "impW", -1);
    if (!std::isfinite(meter->impW) || meter->impW < 0) {
        return 319;
    }
    meter->startVal = doubleOf(element, "startVal", -99999999);
    if (!std::isfinite(meter->startVal) || meter->startVal < kLowestStartValue) {
        return 320;
    }
    meter->postfixNum = integerOf(element, "postfixNum", 0);
    return 0;
}

} // namespace

QString GroupDevice::identityKey() const
{
    return QStringLiteral("%1|%2|%3|%4").arg(manId).arg(identNum).arg(ver).arg(devType);
}

QString GroupDevice::identityValues() const
{
    return orvela::sqlText(manId) + QStringLiteral(", ") + QString::number(identNum) + QStringLiteral(", ") +
           QString::number(ver) + QStringLiteral(", ") + QString::number(devType);
}

QString ChannelMeter::channelData() const
{
    return QStringLiteral("{\n    \"imp\": [\n        {\n            \"titleId\": ") + QString::number(titleId) +
           QStringLiteral(",\n            \"edId\": ") + QString::number(edId) +
           QStringLiteral(",\n            \"postfixNum\": ") + QString::number(postfixNum) +
           QStringLiteral(",\n            \"impW\": ") + numberText(impW) +
           QStringLiteral(",\n            \"startVal\": ") + numberText(startVal) +
           QStringLiteral("\n        }\n    ]\n}\n");
}

quint16 readConcentratorIdentity(const QJsonObject& object, GroupDevice* device)
{
    const struct {
        const char* key;
        quint16 missing;
    } required[] = {{"manId", 99}, {"identNum", 100}, {"ver", 102}, {"devType", 101}};
    for (const auto& field : required) {
        if (!object.contains(QLatin1String(field.key))) {
            return field.missing;
        }
    }
    return identityRanges(object, device);
}

quint16 readDeviceIdentity(const QJsonObject& object, GroupDevice* device)
{
    return identityRanges(object, device);
}

bool describesMeter(const QJsonObject& element)
{
    return element.contains(QStringLiteral("manId")) || element.contains(QStringLiteral("identNum")) ||
           element.contains(QStringLiteral("devType"));
}

quint16 readChannelMeter(const QJsonObject& element, const ChannelRules& rules, const QDate& today, ChannelMeter* meter)
{
    meter->channel = integerOf(element, "channel", -1);
    if (!inRange(meter->channel, kLargestChannel)) {
        return 176;
    }
    const quint16 identity = readDeviceIdentity(element, meter);
    if (identity != 0) {
        return identity;
    }
    const QJsonValue deviceId = element.value(QStringLiteral("deviceId"));
    meter->deviceId = 0;
    if (rules.readsDeviceId && !deviceId.isUndefined() && !deviceId.isNull() &&
        (!jsonToInt64(deviceId, &meter->deviceId) || meter->deviceId < 0)) {
        return 240;
    }
    const QDate date = QDate::fromString(jsonString(element.value(QStringLiteral("dateInstall"))), QStringLiteral("yyyy-MM-dd"));
    meter->dateInstall = date.isValid() ? date : today;
    if (rules.objectKey) {
        if (!element.contains(QLatin1String(rules.objectKey))) {
            return 145;
        }
        if (!jsonToInt64(element.value(QLatin1String(rules.objectKey)), &meter->objectId) || meter->objectId < 1) {
            return 146;
        }
    }
    meter->transKoef = integerOf(element, "transKoef", 1);
    if (meter->transKoef > INT_MAX || meter->transKoef < INT_MIN) {
        return 181;
    }
    meter->note = jsonString(element.value(QStringLiteral("note")));
    if (meter->note.toUcs4().size() > kLongestNote || (rules.checkNote && !isAcceptableNote(meter->note))) {
        return 327;
    }
    return readPulses(element, meter);
}

bool isAcceptableNote(const QString& note)
{
    static const QRegularExpression refused(QStringLiteral("[^\\w .,\\-№/()]|-{2,}"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return note.size() <= kLongestNote && !refused.match(note).hasMatch();
}

bool readDevEui(const QJsonValue& value, QString* eui)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9A-F]{1,16}$"));
    *eui = value.toString().trimmed().toUpper();
    return value.isString() && eui->size() <= kLongestDevEui && hex.match(*eui).hasMatch();
}

} // namespace client
