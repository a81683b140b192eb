// The objects of an address with their devices and each device's newest reading, or the
// devices registered but never installed.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"
#include "readings/lookups.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

// A device of a listing: its own keys, and what its readings are looked up with.
struct ListedDevice {
    QJsonObject json;
    ReadingLookups::TextDevice reading;
};

namespace {

constexpr int kErrorDaysWithResource = 45;
constexpr int kErrorDays = 10;
constexpr int kDevicesPerObject = 500;

const char kReadingTime[] = "dd.MM.yyyy\nHH:mm:ss";

} // namespace

// One device with its identity texts.
ListedDevice Api::listedDevice(const QSqlQuery& query, int timeShiftMinutes)
{
    const DeviceIdentity identity = identityOfRow(query);
    const qint64 koef = columnNumber(query, "TransKoef");
    JsonRow row(query);
    row.number(QStringLiteral("id"), "Id")
        .number(QStringLiteral("devType"), "DevType")
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("status"), "Status")
        .number(QStringLiteral("modelId"), "ModelId")
        .number(QStringLiteral("connectType"), "ConnectType")
        .number(QStringLiteral("transKoef"), "TransKoef");
    QJsonObject device = row.object();
    device.insert(QStringLiteral("info"), QString(QStringLiteral("WMBus: ") + wmbusLine(identity) +
                                                      QObject::tr("\nКоэф.трансформации: ") + QString::number(koef)));
    device.insert(QStringLiteral("devstr"), devstrText(identity));
    const bool scale = text("TransKoef") == QStringLiteral("1");
    return {device, {columnNumber(query, "Id"), identity, timeShiftMinutes, scale ? koef : 1}};
}

// Each device's newest reading with its error flags, and the flags of the readings before it
// ("lastFlags": 45 days when the client asked for one resource, 10 days otherwise), looked up
// for all devices at once.
void Api::addReadings(ReadingLookups& lookups, QVector<ListedDevice>* devices)
{
    const QDateTime now = req().requestTime();
    QVector<ReadingLookups::TextDevice> asked;
    for (const ListedDevice& device : *devices) {
        asked << device.reading;
    }
    const QVector<ReadingLookups::ReadingTexts> readings = lookups.latestReadingTexts(asked, now);
    QVector<ReadingLookups::ErrorWindow> windows;
    for (int i = 0; i < devices->size(); ++i) {
        const ReadingLookups::ReadingTexts& reading = readings.at(i);
        const ReadingLookups::TextDevice& device = asked.at(i);
        QJsonObject& json = (*devices)[i].json;
        json.insert(QStringLiteral("dateVal"), reading.arcLocal.isValid() ? reading.arcLocal.toString(QString::fromLatin1(kReadingTime)) : QString());
        json.insert(QStringLiteral("dateRec"), reading.recLocal.isValid() ? reading.recLocal.toString(QString::fromLatin1(kReadingTime)) : QString());
        json.insert(QStringLiteral("values"), reading.values);
        json.insert(QStringLiteral("flags"), reading.errors);
        // Up to a second before the newest reading, whose own flags are shown above.
        const QDateTime end = reading.arcLocal.isValid()
                                  ? reading.arcLocal.addSecs(-static_cast<qint64>(device.timeShiftMinutes) * 60 - 1)
                                  : now;
        windows.append({device.id, device.identity, end, device.timeShiftMinutes});
    }
    const QVector<QString> flags = lookups.lastErrorTexts(windows, given("ResCode") ? kErrorDaysWithResource : kErrorDays);
    for (int i = 0; i < devices->size(); ++i) {
        (*devices)[i].json.insert(QStringLiteral("lastFlags"), flags.at(i));
    }
}

// The devices ever installed in each object, read for all objects at once. A company-bound
// caller does not see a device that has moved on to another company's premises since.
bool Api::objectDevices(const QList<qint64>& objectIds, const QHash<qint64, int>& timeShifts, const QString& resourceFilter,
                        QHash<qint64, QVector<ListedDevice>>* devices)
{
    if (objectIds.isEmpty()) {
        return true;
    }
    const QString movedAway =
        user().isCompanyBound()
            ? QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM \"InstallTable\" ci, \"ObjectTable\" co, \"AddressTable\" ca WHERE "
                             "(ci.\"DeviceId\"=d.\"Id\") AND (ci.\"Actual\"=1) AND (co.\"Id\"=ci.\"ObjectId\") AND "
                             "(ca.\"Id\"=co.\"AddressId\") AND (ca.\"CompanyId\" IS DISTINCT FROM ") +
                  sqlIdOrNull(user().companyId) + QStringLiteral("))")
            : QString();
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT * FROM (SELECT DISTINCT i.\"ObjectId\", d.\"Id\", d.\"DevType\", d.\"ManId\", "
                               "d.\"ConnectType\", d.\"TransKoef\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", d.\"Status\", "
                               "d.\"ModelId\", m.\"ManufId\", m.\"Name\" AS \"ModelName\", m.\"ResCode\", p.\"Name\" AS "
                               "\"ManufName\" FROM \"InstallTable\" i, \"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" p "
                               "WHERE (i.\"ObjectId\" IN (") +
                    sqlIdList(objectIds) +
                    QStringLiteral(")) AND (i.\"DeviceId\"=d.\"Id\") AND (d.\"ModelId\"=m.\"Id\") AND (d.\"ConnectType\" <> 1)") +
                    resourceFilter + movedAway +
                    QStringLiteral(" AND (m.\"ManufId\"=p.\"Id\")) x ORDER BY \"ObjectId\", \"DevType\" ASC, \"ZavNum\" ASC, "
                                   "\"Id\" ASC;"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        const qint64 objectId = columnNumber(query, "ObjectId");
        QVector<ListedDevice>& list = (*devices)[objectId];
        if (list.size() >= kDevicesPerObject) {
            continue;
        }
        ListedDevice device = listedDevice(query, timeShifts.value(objectId));
        device.json.insert(QStringLiteral("modelName"), columnText(query, "ModelName"));
        device.json.insert(QStringLiteral("manufId"), columnNumber(query, "ManufId"));
        device.json.insert(QStringLiteral("manufName"), columnText(query, "ManufName"));
        device.json.insert(QStringLiteral("resCode"), columnNumber(query, "ResCode"));
        list.append(device);
    }
    return true;
}

bool Api::deviceListObjects(ReadingLookups& lookups, qint64 company, const QString& resourceFilter)
{
    QString conditions;
    if (!numberFilter("AddressId", QStringLiteral("o.\"AddressId\""), 59, &conditions) ||
        !numberFilter("ObjType", QStringLiteral("o.\"ObjType\""), 220, &conditions, false)) {
        return false;
    }
    if (given("Obj")) {
        conditions += QStringLiteral(" AND (o.\"Obj\"=") + sqlText(text("Obj")) + QLatin1Char(')');
    }
    QSqlQuery objects = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT o.\"Id\", o.\"ObjType\", o.\"Obj\", o.\"AbonentId\", o.\"Note\", o.\"AddressId\", "
                               "a.\"Name\", a.\"TimeShift\", a.\"CompanyId\" FROM \"AddressTable\" a, \"ObjectTable\" o WHERE "
                               "(o.\"AddressId\"=a.\"Id\") AND (a.\"CompanyId\"") +
                    companyMatch(company) + QLatin1Char(')') + conditions +
                    QStringLiteral(" ORDER BY \"ObjType\" ASC, \"Id\" ASC LIMIT 2000;"),
                &objects, 132)) {
        return false;
    }
    readAbonentSummaries(columnIds(objects, "AbonentId"));
    QVector<QJsonObject> rows;
    QList<qint64> objectIds;
    QHash<qint64, int> timeShifts;
    while (objects.next()) {
        JsonRow row(objects);
        row.id(QStringLiteral("objectId"), "Id")
            .id(QStringLiteral("addressId"), "AddressId")
            .text(QStringLiteral("addressName"), "Name")
            .number(QStringLiteral("objType"), "ObjType")
            .text(QStringLiteral("obj"), "Obj")
            .text(QStringLiteral("note"), "Note")
            .number(QStringLiteral("abonentId"), "AbonentId")
            .number(QStringLiteral("timeShift"), "TimeShift");
        const bool hasAbonent = !columnValue(objects, "AbonentId").isNull();
        row.value(QStringLiteral("abonentInfo"), hasAbonent ? abonentSummary(columnNumber(objects, "AbonentId")) : QString());
        if (!row.valid()) {
            return fail(258);
        }
        rows.append(row.object());
        objectIds << columnNumber(objects, "Id");
        timeShifts.insert(objectIds.last(), static_cast<int>(columnNumber(objects, "TimeShift")));
    }
    QHash<qint64, QVector<ListedDevice>> devices;
    if (!objectDevices(objectIds, timeShifts, resourceFilter, &devices)) {
        return false;
    }
    // Every device of every object is looked up at once, then handed back to its object.
    QVector<ListedDevice> all;
    for (const qint64 id : objectIds) {
        all += devices.value(id);
    }
    addReadings(lookups, &all);
    int next = 0;
    for (int i = 0; i < rows.size(); ++i) {
        QJsonArray list;
        for (int n = devices.value(objectIds.at(i)).size(); n > 0; --n) {
            list.append(all.at(next++).json);
        }
        rows[i].insert(QStringLiteral("devices"), list);
        req().appendResponseRow(rows.at(i));
    }
    return true;
}

// The devices registered but never installed anywhere, read in UTC.
bool Api::deviceListUninstalled(ReadingLookups& lookups, const QString& resourceFilter)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"Ver\", d.\"IdentNum\", d.\"TransKoef\", "
                               "d.\"ZavNum\", d.\"DateProizv\"::text AS \"DateProizv\", d.\"ModelId\", d.\"Status\", "
                               "d.\"ConnectType\", d.\"Note\", m.\"Name\" AS \"ModelName\", m.\"ResCode\" FROM \"DeviceTable\" d, "
                               "\"ModelTable\" m WHERE (d.\"ModelId\"=m.\"Id\") AND (d.\"ConnectType\" <> 1)") +
                    resourceFilter +
                    QStringLiteral(" AND NOT EXISTS ( SELECT i.\"Id\" FROM \"InstallTable\" i WHERE (i.\"DeviceId\"=d.\"Id\") LIMIT "
                                   "1 ) ORDER BY \"Id\" ASC LIMIT 5000;"),
                &query, 132)) {
        return false;
    }
    QVector<ListedDevice> devices;
    while (query.next()) {
        ListedDevice device = listedDevice(query, 0);
        device.json.insert(QStringLiteral("dateProizv"), columnText(query, "DateProizv").left(10));
        device.json.insert(QStringLiteral("note"), columnText(query, "Note"));
        device.json.insert(QStringLiteral("modelName"), columnText(query, "ModelName"));
        device.json.insert(QStringLiteral("resCode"), columnNumber(query, "ResCode"));
        devices.append(device);
    }
    addReadings(lookups, &devices);
    for (const ListedDevice& device : devices) {
        req().appendResponseRow(device.json);
    }
    return true;
}

bool Api::getDeviceList()
{
    qint64 company = 0;
    QString resourceFilter;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 239, &resourceFilter, false)) {
        return false;
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    const bool uninstalled = typeAllowed(UserType::User, kNoCompanyBound) && given("NotAddress");
    const bool listed = uninstalled ? deviceListUninstalled(lookups, resourceFilter)
                                    : deviceListObjects(lookups, company, resourceFilter);
    if (!listed) {
        req().clearResponseData();
        return false;
    }
    return succeed();
}

} // namespace client
