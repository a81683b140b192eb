// The latest state of metering devices: the newest readings at an address, the devices with
// unacknowledged error flags, and the acknowledgement of those flags.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/clientdates.h"
#include "cgi/clientjson.h"
#include "cgi/client/datafields.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"
#include "readings/lookups.h"
#include "readings/vocabulary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

// One element of "DATA" of an acknowledgement.
struct Acknowledgement {
    qint64 deviceId = 0;
    QDateTime date; // stored (UTC) time
};

using namespace orvela;

// What the rows of an address are built from, read for all its devices at once.
struct AddressReadings {
    QHash<qint64, QDate> verified;                   // verification in force, by device
    QHash<QPair<qint64, qint64>, QString> accounts; // personal account by object and resource
    QVector<ReadingLookups::LatestReading> latest;   // newest reading, in the order of the devices
};

namespace {

constexpr int kLongestDelta = 28;
constexpr int kDefaultDevCount = 1000;
constexpr int kLargestDevCount = 5000;
constexpr int kErrorDays = 30;
constexpr int kErrorsPerDevice = 10;
constexpr int kAcknowledgedDays = 31;
constexpr int kAddressesRead = 2000;
constexpr int kDevicesPerAddress = 1000;

DeviceIdentity identityOf(const QSqlQuery& query)
{
    DeviceIdentity identity;
    identity.devType = static_cast<quint8>(columnNumber(query, "DevType"));
    identity.version = static_cast<quint8>(columnNumber(query, "Ver"));
    identity.manufacturer = manufacturerCode(columnText(query, "ManId"));
    identity.identNum = columnText(query, "IdentNum").toUInt(nullptr, 16);
    return identity;
}

QJsonArray valuesArray(const QVector<ArchiveValue>& values)
{
    QJsonArray array;
    for (const ArchiveValue& value : values) {
        array.append(QJsonObject{{QStringLiteral("titleId"), value.titleId},
                                 {QStringLiteral("edId"), value.edId},
                                 {QStringLiteral("val"), value.val},
                                 {QStringLiteral("prefixNum"), value.prefixNum},
                                 {QStringLiteral("postfixNum"), value.postfixNum}});
    }
    return array;
}

bool readAcknowledgement(const QJsonValue& element, Acknowledgement* acknowledgement)
{
    const QJsonObject object = element.toObject();
    if (!element.isObject() || !jsonToInt64(object.value(QStringLiteral("deviceId")), &acknowledgement->deviceId) ||
        acknowledgement->deviceId < 1) {
        return false;
    }
    acknowledgement->date = clientDateTime(jsonString(object.value(QStringLiteral("date"))));
    return acknowledgement->date.isValid();
}

// One device of an address: its record, "datePov", "dateNextPov" (the verification plus the
// model's interval in months), "licNum" (the personal account of its object for its resource)
// and its newest reading.
QJsonObject devValuesRow(const QSqlQuery& query, const AddressReadings& readings, int index)
{
    JsonRow row(query);
    row.id(QStringLiteral("devId"), "Id")
        .number(QStringLiteral("devStatus"), "devStatus")
        .number(QStringLiteral("transKoef"), "TransKoef")
        .id(QStringLiteral("objId"), "ObjId")
        .number(QStringLiteral("objType"), "ObjType")
        .text(QStringLiteral("obj"), "Obj")
        .text(QStringLiteral("zavNum"), "ZavNum");
    const bool hasResource = !columnValue(query, "ResCode").isNull();
    if (hasResource) {
        row.number(QStringLiteral("resCode"), "ResCode");
    }
    row.value(QStringLiteral("res"), hasResource ? resourceName(static_cast<int>(columnNumber(query, "ResCode"))) : QString());
    QJsonObject device = row.object();
    const qint64 id = columnNumber(query, "Id");
    const bool verified = readings.verified.contains(id);
    const bool interval = verified && !columnValue(query, "PovInterval").isNull();
    const QDate date = readings.verified.value(id);
    device.insert(QStringLiteral("datePov"), verified ? date.toString(QStringLiteral("yyyy-MM-dd")) : QString());
    device.insert(QStringLiteral("dateNextPov"),
                  interval ? date.addMonths(static_cast<int>(columnNumber(query, "PovInterval"))).toString(QStringLiteral("yyyy-MM-dd"))
                           : QString());
    device.insert(QStringLiteral("licNum"), readings.accounts.value({columnNumber(query, "ObjId"), columnNumber(query, "ResCode")}));
    const ReadingLookups::LatestReading& latest = readings.latest.at(index);
    const bool found = !latest.values.isEmpty();
    device.insert(QStringLiteral("title"), found ? titleName(latest.values.first().titleId) : QString());
    device.insert(QStringLiteral("ed"), found ? unitName(latest.values.first().edId) : QString());
    device.insert(QStringLiteral("date"), found ? latest.time.toString(QStringLiteral("yyyy-MM-dd")) : QString());
    device.insert(QStringLiteral("values"), valuesArray(latest.values));
    return device;
}

} // namespace

std::function<void(const QString&)> Api::debugSink() const
{
    return [this](const QString& text) { req().logDebug(text); };
}

bool Api::requiredDate(const char* name, quint16 absentCode, quint16 badCode, QDate* date)
{
    if (!given(name)) {
        return fail(absentCode);
    }
    *date = clientDate(text(name));
    return date->isValid() ? true : fail(badCode);
}

// The personal accounts of objects by object and resource; 132 when the statement fails.
bool Api::personalAccounts(const QList<qint64>& objectIds, QHash<QPair<qint64, qint64>, QString>* accounts)
{
    if (objectIds.isEmpty()) {
        return true;
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT ON (\"ObjectId\", \"ResCode\") \"ObjectId\", \"ResCode\", \"Name\" FROM "
                               "\"LicAccountTable\" WHERE (\"ObjectId\" IN (") +
                    sqlIdList(objectIds) + QStringLiteral(")) ORDER BY \"ObjectId\", \"ResCode\", \"Id\";"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        accounts->insert({query.value(0).toLongLong(), query.value(1).toLongLong()}, query.value(2).toString());
    }
    return true;
}

// Everything the rows of an address are built from, read for all its devices at once: their
// verifications, the personal accounts of their objects, and their newest readings.
bool Api::readAddressReadings(QSqlQuery& devices, const QDate& date, int delta, bool scale, AddressReadings* readings)
{
    QVector<ReadingLookups::ReadingDevice> list;
    QList<qint64> ids;
    QList<qint64> objectIds;
    int timeShift = 0;
    while (devices.next()) {
        const qint64 id = columnNumber(devices, "Id");
        list.append({id, identityOf(devices), scale ? columnNumber(devices, "TransKoef") : 1});
        ids << id;
        objectIds << columnNumber(devices, "ObjId");
        timeShift = static_cast<int>(columnNumber(devices, "TimeShift")); // one address: one offset
    }
    devices.seek(QSql::BeforeFirstRow);
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    if (lookups.verificationDates(ids, &readings->verified) != 0) {
        return fail(132);
    }
    if (!personalAccounts(objectIds, &readings->accounts)) {
        return false;
    }
    const quint16 code = lookups.latestDeviceReadings(list, date, delta, timeShift, &readings->latest);
    return code == 0 ? true : fail(code);
}

bool Api::getDevValuesFromAddress()
{
    qint64 company = 0;
    qint64 addressId = 0;
    QDate date;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) ||
        !requiredDate("Date", 4, 256, &date) ||
        !numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 239, &conditions, false) ||
        !numberFilter("ObjType", QStringLiteral("o.\"ObjType\""), 220, &conditions, false)) {
        return false;
    }
    const int delta = static_cast<int>(qBound<qint64>(0, int32Param("DeltaDate", 0), kLongestDelta));
    // "NoCalc" is accepted for the clients that send it; the readings shown do not depend on it.
    const bool scale = text("TransKoef") == QStringLiteral("1");
    const QString sql =
        QStringLiteral("SELECT DISTINCT  d.\"Id\", d.\"Status\" AS \"devStatus\", d.\"DevType\", d.\"IdentNum\", "
                       "d.\"ManId\", d.\"Ver\", d.\"ZavNum\", d.\"TransKoef\", m.\"ResCode\", m.\"PovInterval\", "
                       "a.\"TimeShift\", o.\"Id\" AS \"ObjId\", o.\"ObjType\", o.\"Obj\" FROM \"DeviceTable\" d, "
                       "\"ObjectTable\" o, \"ModelTable\" m, \"InstallTable\" i, \"AddressTable\" a WHERE (a.\"CompanyId\"") +
        companyMatch(company) +
        QStringLiteral(") AND (a.\"Id\"=o.\"AddressId\") AND (o.\"Id\"=i.\"ObjectId\") AND (i.\"DeviceId\"=d.\"Id\") AND "
                       "(i.\"Actual\"=1) AND (d.\"ModelId\"=m.\"Id\") AND (d.\"ConnectType\" <> 1) AND (a.\"Id\"=") +
        QString::number(addressId) + QLatin1Char(')') + conditions +
        QStringLiteral(" ORDER BY \"ObjType\" ASC, \"ObjId\" ASC LIMIT 5000;");
    QSqlQuery query = db().newQuery();
    if (!select(sql, &query, 132)) {
        return false;
    }
    AddressReadings readings;
    if (!readAddressReadings(query, date, delta, scale, &readings)) {
        return false;
    }
    for (int index = 0; query.next(); ++index) {
        req().appendResponseRow(devValuesRow(query, readings, index));
    }
    return succeed();
}

// The addresses whose devices are listed: a company's, those of no company for a
// company-bound account without one, and every address for a global caller.
QString Api::errorFlagsAddresses() const
{
    const bool everyAddress = !user().isCompanyBound() && user().companyId < 1;
    return QStringLiteral("SELECT DISTINCT \"Id\", \"Name\", \"CompanyId\", \"TimeShift\" FROM \"AddressTable\" ") +
           (everyAddress ? QString() : QStringLiteral("WHERE (\"CompanyId\"") + companyMatch(user().companyId) + QStringLiteral(") ")) +
           QStringLiteral("ORDER BY \"Name\" ASC LIMIT ") + QString::number(kAddressesRead) + QLatin1Char(';');
}

bool Api::errorFlagsDevice(const QSqlQuery& device, const QJsonArray& errors, const QString& addressName,
                           QJsonObject* object)
{
    JsonRow row(device);
    row.value(QStringLiteral("errors"), errors)
        .id(QStringLiteral("deviceId"), "Id")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("manId"), "ManId")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("modelId"), "ModelId")
        .text(QStringLiteral("modelName"), "ModelName")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("manufName"), "ManufName")
        .number(QStringLiteral("resCode"), "ResCode")
        .number(QStringLiteral("addressId"), "AddressId")
        .value(QStringLiteral("addressName"), addressName)
        .id(QStringLiteral("objectId"), "ObjectId")
        .text(QStringLiteral("obj"), "Obj")
        .number(QStringLiteral("objType"), "ObjType");
    if (!device.value(QStringLiteral("AbonentId")).isNull()) {
        const qint64 abonentId = columnNumber(device, "AbonentId");
        row.value(QStringLiteral("abonentId"), abonentId).value(QStringLiteral("abonentInfo"), abonentSummary(abonentId));
    }
    *object = row.object();
    return row.valid();
}

bool Api::getErrorFlags()
{
    int devCount = kDefaultDevCount;
    if (!allowTypes(UserType::User, UserType::CompanyUser)) {
        return false;
    }
    if (given("DevCount")) {
        devCount = static_cast<int>(int32Param("DevCount"));
        if (devCount < 1 || devCount > kLargestDevCount) {
            return fail(181);
        }
    }
    QSqlQuery addresses = db().newQuery();
    if (!select(errorFlagsAddresses(), &addresses, 132)) {
        return false;
    }
    QStringList addressIds;
    QHash<qint64, QString> addressNames;
    while (addresses.next()) {
        addressIds << addresses.value(0).toString();
        addressNames.insert(addresses.value(0).toLongLong(), columnText(addresses, "Name"));
    }
    if (addressIds.isEmpty()) {
        return succeed();
    }
    // The devices of all those addresses at once; their order is the addresses' order, then
    // the objects' within each address.
    QSqlQuery devices = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"IdentNum\", d.\"ManId\", d.\"Ver\", d.\"ZavNum\", "
                               "d.\"ModelId\", m.\"Name\" AS \"ModelName\", m.\"ManufId\", n.\"Name\" AS \"ManufName\", "
                               "m.\"ResCode\", i.\"ObjectId\", o.\"ObjType\", o.\"Obj\", o.\"AbonentId\", o.\"AddressId\", "
                               "a.\"TimeShift\" FROM \"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" n, \"InstallTable\" i, "
                               "\"ObjectTable\" o, \"AddressTable\" a WHERE (o.\"AddressId\" IN (") +
                    addressIds.join(QLatin1Char(',')) +
                    QStringLiteral(")) AND (a.\"Id\"=o.\"AddressId\") AND (o.\"Id\"=i.\"ObjectId\") AND (i.\"Actual\"=1) AND "
                                   "(i.\"DeviceId\"=d.\"Id\") AND (d.\"Status\"=0) AND (d.\"ModelId\"=m.\"Id\") AND "
                                   "(m.\"ManufId\"=n.\"Id\") AND (d.\"ConnectType\" <> 1) ORDER BY \"ObjType\" ASC, "
                                   "\"ObjectId\" ASC, \"Id\" ASC"),
                &devices, 132)) {
        return false;
    }
    QHash<qint64, QList<int>> rowsOfAddress;
    QList<qint64> deviceIds;
    QHash<qint64, int> timeShifts;
    for (int row = 0; devices.seek(row); ++row) {
        QList<int>& rows = rowsOfAddress[columnNumber(devices, "AddressId")];
        if (rows.size() < kDevicesPerAddress) {
            rows << row;
            deviceIds << columnNumber(devices, "Id");
            timeShifts.insert(deviceIds.last(), static_cast<int>(columnNumber(devices, "TimeShift")));
        }
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    QHash<qint64, QJsonArray> errors;
    if (lookups.recentUnfixedErrors(deviceIds, timeShifts, kErrorDays, kErrorsPerDevice, req().requestTime(), &errors) != 0) {
        return fail(132);
    }
    // The abonents of the devices with errors, read at once.
    QList<qint64> abonents;
    for (int row = 0; devices.seek(row); ++row) {
        if (errors.contains(columnNumber(devices, "Id")) && !columnValue(devices, "AbonentId").isNull()) {
            abonents << columnNumber(devices, "AbonentId");
        }
    }
    readAbonentSummaries(abonents);
    int listed = 0;
    for (const QString& address : addressIds) {
        for (const int row : rowsOfAddress.value(address.toLongLong())) {
            devices.seek(row);
            const QJsonArray entries = errors.value(columnNumber(devices, "Id"));
            QJsonObject object;
            if (entries.isEmpty()) {
                continue;
            }
            if (!errorFlagsDevice(devices, entries, addressNames.value(address.toLongLong()), &object)) {
                req().clearResponseData();
                return fail(258);
            }
            req().appendResponseRow(object);
            if (++listed == devCount) {
                return succeed();
            }
        }
    }
    return succeed();
}

// Sets "fixed" on the first error element of each device's unacknowledged rows of the 31
// days up to the time given for it, in the database itself: a concurrent change of the same
// row is kept, and a row acknowledged meanwhile is left alone. All elements are acknowledged
// in one transaction, with one statement per yearly table they touch.
bool Api::acknowledgeErrors(ReadingLookups& lookups, const QList<Acknowledgement>& acknowledgements)
{
    QSet<int> years;
    QStringList pairs;
    for (const Acknowledgement& acknowledgement : acknowledgements) {
        for (int year = acknowledgement.date.addDays(-kAcknowledgedDays).date().year();
             year <= acknowledgement.date.date().year(); ++year) {
            years.insert(year);
        }
        pairs << QLatin1Char('(') + QString::number(acknowledgement.deviceId) + QStringLiteral(", ") +
                     sqlTimestamp(acknowledgement.date) + QStringLiteral("::timestamp)");
    }
    LockedWrite write(db());
    if (!beginWrite(write)) {
        return false;
    }
    for (const int year : years) {
        if (!lookups.archiveExists(year)) {
            continue;
        }
        const QString table = QLatin1Char('"') + archiveTableName(year) + QLatin1Char('"');
        // Per element at most 1000 rows, the newest, as a screen of flags can show.
        const quint16 code = write.exec(
            QStringLiteral("UPDATE ") + table +
            QStringLiteral(" SET \"JsonErr\"=jsonb_set(\"JsonErr\"::jsonb, '{0,fixed}', '1')::json WHERE \"Id\" IN "
                           "(SELECT r.\"Id\" FROM (VALUES ") +
            pairs.join(QStringLiteral(", ")) +
            QStringLiteral(") AS e(\"DeviceId\", \"Upto\") CROSS JOIN LATERAL (SELECT \"Id\" FROM ") + table +
            QStringLiteral(" WHERE (\"DeviceId\"=e.\"DeviceId\") AND (\"ArcDate\" BETWEEN e.\"Upto\" - interval '") +
            QString::number(kAcknowledgedDays) + QStringLiteral(" days' AND e.\"Upto\") AND ") + unfixedErrorCondition() +
            QStringLiteral(" ORDER BY \"ArcDate\" DESC LIMIT 1000) r) AND ") + unfixedErrorCondition() + QLatin1Char(';'));
        if (code != 0) {
            return fail(code);
        }
    }
    return finish(write.commit());
}

bool Api::clearErrorFlags()
{
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !dataGiven()) {
        return false;
    }
    QJsonDocument doc;
    if (!tarn::parseClientJson(text("DATA").toUtf8(), &doc) || !doc.isArray() || tarn::jsonHasNul(doc.array())) {
        return fail(157);
    }
    if (doc.array().isEmpty()) {
        return fail(161);
    }
    QList<Acknowledgement> acknowledgements;
    for (const QJsonValue& element : doc.array()) {
        Acknowledgement acknowledgement;
        if (!readAcknowledgement(element, &acknowledgement)) {
            return fail(157);
        }
        acknowledgements << acknowledgement;
    }
    // A company-bound caller acknowledges only his company's devices, all of them or none.
    for (const Acknowledgement& acknowledgement : acknowledgements) {
        if (user().isCompanyBound() && !mayTouchDevice(acknowledgement.deviceId, Hold::None, sameRefusals(246, 246))) {
            return false;
        }
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    return acknowledgeErrors(lookups, acknowledgements);
}

} // namespace client
