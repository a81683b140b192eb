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

namespace {

constexpr int kErrorDaysWithResource = 45;
constexpr int kErrorDays = 10;

const char kReadingTime[] = "dd.MM.yyyy\nHH:mm:ss";

} // namespace

// One device with its identity texts, its newest reading and its error flags. The flags of
// the readings before the newest ("lastFlags") cover 45 days when the client asked for one
// resource and 10 days otherwise.
QJsonObject Api::deviceWithReading(ReadingLookups& lookups, const QSqlQuery& query, int timeShiftMinutes)
{
    const DeviceIdentity identity = identityOfRow(query);
    const qint64 id = columnNumber(query, "Id");
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
    const QDateTime now = req().requestTime();
    const auto reading = lookups.latestReadingText(id, identity, timeShiftMinutes, scale ? koef : 1, now);
    device.insert(QStringLiteral("dateVal"), reading.arcLocal.isValid() ? reading.arcLocal.toString(QString::fromLatin1(kReadingTime)) : QString());
    device.insert(QStringLiteral("dateRec"), reading.recLocal.isValid() ? reading.recLocal.toString(QString::fromLatin1(kReadingTime)) : QString());
    device.insert(QStringLiteral("values"), reading.values);
    device.insert(QStringLiteral("flags"), reading.errors);
    // Up to a second before the newest reading, whose own flags are shown above.
    const QDateTime end = reading.arcLocal.isValid()
                              ? reading.arcLocal.addSecs(-static_cast<qint64>(timeShiftMinutes) * 60 - 1)
                              : now;
    device.insert(QStringLiteral("lastFlags"),
                  lookups.lastErrorText(id, identity, end, given("ResCode") ? kErrorDaysWithResource : kErrorDays,
                                        timeShiftMinutes));
    return device;
}

// The devices ever installed in an object. A company-bound caller does not see a device that
// has moved on to another company's premises since.
bool Api::objectDevices(ReadingLookups& lookups, const QSqlQuery& object, const QString& resourceFilter, QJsonArray* devices)
{
    const QString movedAway =
        user().isCompanyBound()
            ? QStringLiteral(" AND NOT EXISTS (SELECT 1 FROM \"InstallTable\" ci, \"ObjectTable\" co, \"AddressTable\" ca WHERE "
                             "(ci.\"DeviceId\"=d.\"Id\") AND (ci.\"Actual\"=1) AND (co.\"Id\"=ci.\"ObjectId\") AND "
                             "(ca.\"Id\"=co.\"AddressId\") AND (ca.\"CompanyId\" IS DISTINCT FROM ") +
                  sqlIdOrNull(user().companyId) + QStringLiteral("))")
            : QString();
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"ConnectType\", d.\"TransKoef\", "
                               "d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", d.\"Status\", d.\"ModelId\", m.\"ManufId\", m.\"Name\" AS "
                               "\"ModelName\", m.\"ResCode\", p.\"Name\" AS \"ManufName\" FROM \"InstallTable\" i, \"DeviceTable\" d, "
                               "\"ModelTable\" m, \"ManufTable\" p WHERE (i.\"ObjectId\"=") +
                    QString::number(columnNumber(object, "Id")) +
                    QStringLiteral(") AND (i.\"DeviceId\"=d.\"Id\") AND (d.\"ModelId\"=m.\"Id\") AND (d.\"ConnectType\" <> 1)") +
                    resourceFilter + movedAway +
                    QStringLiteral(" AND (m.\"ManufId\"=p.\"Id\") ORDER BY \"DevType\" ASC, \"ZavNum\" ASC LIMIT 500;"),
                &query, 132)) {
        return false;
    }
    const int timeShift = static_cast<int>(columnNumber(object, "TimeShift"));
    while (query.next()) {
        QJsonObject device = deviceWithReading(lookups, query, timeShift);
        device.insert(QStringLiteral("modelName"), columnText(query, "ModelName"));
        device.insert(QStringLiteral("manufId"), columnNumber(query, "ManufId"));
        device.insert(QStringLiteral("manufName"), columnText(query, "ManufName"));
        device.insert(QStringLiteral("resCode"), columnNumber(query, "ResCode"));
        devices->append(device);
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
        const bool hasAbonent = !objects.value(QStringLiteral("AbonentId")).isNull();
        row.value(QStringLiteral("abonentInfo"), hasAbonent ? abonentSummary(columnNumber(objects, "AbonentId")) : QString());
        QJsonArray devices;
        if (!row.valid()) {
            return fail(258);
        }
        if (!objectDevices(lookups, objects, resourceFilter, &devices)) {
            return false;
        }
        QJsonObject object = row.object();
        object.insert(QStringLiteral("devices"), devices);
        req().appendResponseRow(object);
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
    while (query.next()) {
        QJsonObject device = deviceWithReading(lookups, query, 0);
        device.insert(QStringLiteral("dateProizv"), columnText(query, "DateProizv").left(10));
        device.insert(QStringLiteral("note"), columnText(query, "Note"));
        device.insert(QStringLiteral("modelName"), columnText(query, "ModelName"));
        device.insert(QStringLiteral("resCode"), columnNumber(query, "ResCode"));
        req().appendResponseRow(device);
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
