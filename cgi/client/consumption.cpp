// "Get_Report": the consumption of the objects of an address between two days, or of one
// device hour by hour.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/clientdates.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "readings/lookups.h"
#include "readings/slotbuilder.h"
#include "readings/units.h"

#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

constexpr int kLongestHourReportDays = 31;

QDateTime at(const QDate& date, int hour, int minute = 0, int second = 0)
{
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

// The accumulating registers of a slot, in the client's unit but not yet cut.
QVector<ArchiveValue> counters(const UserUnitSettings& units, int devType, const QVector<ArchiveValue>& values)
{
    QVector<ArchiveValue> kept;
    for (ArchiveValue value : values) {
        if (isCounterValue(devType, value, value.prefixNum, value.postfixNum, false)) {
            applyUserUnit(units, devType, &value);
            kept.append(value);
        }
    }
    return kept;
}

// The main quantity of a device: its first accumulating value that both readings have.
int mainQuantity(const QVector<ArchiveValue>& earlier, const QVector<ArchiveValue>& later)
{
    for (int i = 0; i < later.size(); ++i) {
        if (findSameQuantity(earlier, later.at(i)) >= 0) {
            return i;
        }
    }
    return -1;
}

} // namespace

QJsonArray Api::shownValues(int devType, const QVector<ArchiveValue>& values, const QVector<ArchiveValue>* previous)
{
    QJsonArray array;
    for (const ArchiveValue& value : values) {
        QJsonObject object{{QStringLiteral("titleId"), value.titleId},
                           {QStringLiteral("edId"), value.edId},
                           {QStringLiteral("prefixNum"), value.prefixNum},
                           {QStringLiteral("postfixNum"), value.postfixNum},
                           {QStringLiteral("val"), applyUserPrecision(req().unitSettings(), devType, value.val)}};
        if (previous) {
            const int same = findSameQuantity(*previous, value);
            object.insert(QStringLiteral("rashod"), same < 0 ? QString() : usage(devType, previous->at(same), value));
        }
        array.append(object);
    }
    return array;
}

// later - earlier with the decimals of the longer of the two, cut to the client's precision.
QString Api::usage(int devType, const ArchiveValue& earlier, const ArchiveValue& later)
{
    const QString used = difference(earlier.val, later.val);
    return used.isEmpty() ? used : applyUserPrecision(req().unitSettings(), devType, used);
}

// The accumulating values at the end of a day: the last of the daily slots of the three days
// before it and the day itself, gaps estimated.
bool Api::valuesAtDayEnd(SlotBuilder& builder, qint64 deviceId, const DeviceIdentity& identity, const QDate& day,
                         int timeShift, QVector<ArchiveValue>* values)
{
    QDateTime start = at(day.addDays(-3), 0);
    QDateTime end = at(day, 23, 59, 59);
    QVector<PeriodSlot> table;
    const quint16 code = builder.build(SlotStep::Day, deviceId, identity, &start, &end, timeShift, true, &table);
    if (code != 0) {
        return fail(code);
    }
    *values = counters(req().unitSettings(), identity.devType, table.isEmpty() ? QVector<ArchiveValue>() : table.last().record.values);
    return true;
}

bool Api::consumptionDevice(SlotBuilder& builder, const QSqlQuery& query, const QDate& first, const QDate& last,
                            int timeShift, QJsonObject* device)
{
    const DeviceIdentity identity = identityOfRow(query);
    const qint64 id = columnNumber(query, "Id");
    QVector<ArchiveValue> startValues;
    QVector<ArchiveValue> endValues;
    if (!valuesAtDayEnd(builder, id, identity, first.addDays(-1), timeShift, &startValues) ||
        !valuesAtDayEnd(builder, id, identity, last, timeShift, &endValues)) {
        return false;
    }
    JsonRow row(query);
    row.number(QStringLiteral("id"), "Id")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .text(QStringLiteral("modelName"), "ModelName")
        .text(QStringLiteral("manufName"), "ManufName")
        .number(QStringLiteral("resCode"), "ResCode")
        .number(QStringLiteral("transKoef"), "TransKoef")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("manId"), "ManId")
        .value(QStringLiteral("startDate"), QString(first.addDays(-1).toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 23:00")))
        .value(QStringLiteral("endDate"), QString(last.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 23:00")))
        .value(QStringLiteral("startValues"), shownValues(identity.devType, startValues, nullptr))
        .value(QStringLiteral("endValues"), shownValues(identity.devType, endValues, nullptr));
    *device = row.object();
    const int main = mainQuantity(startValues, endValues);
    if (main >= 0) {
        const ArchiveValue& end = endValues.at(main);
        const ArchiveValue& start = startValues.at(findSameQuantity(startValues, end));
        device->insert(QStringLiteral("titleId"), end.titleId);
        device->insert(QStringLiteral("edId"), end.edId);
        device->insert(QStringLiteral("startVal"), applyUserPrecision(req().unitSettings(), identity.devType, start.val));
        device->insert(QStringLiteral("endVal"), applyUserPrecision(req().unitSettings(), identity.devType, end.val));
        device->insert(QStringLiteral("ras"), usage(identity.devType, start, end));
    }
    return true;
}

bool Api::consumptionObject(SlotBuilder& builder, const QSqlQuery& object, const QDate& first, const QDate& last,
                            const QString& resourceFilter, QJsonObject* entry)
{
    JsonRow row(object);
    row.id(QStringLiteral("objectId"), "Id")
        .number(QStringLiteral("objType"), "ObjType")
        .text(QStringLiteral("obj"), "Obj")
        .text(QStringLiteral("abonentCode"), "AbonentCode");
    if (!row.valid()) {
        return fail(77);
    }
    if (!object.value(QStringLiteral("AbonentId")).isNull()) {
        const qint64 abonentId = columnNumber(object, "AbonentId");
        row.value(QStringLiteral("abonentId"), abonentId).value(QStringLiteral("abonentInfo"), abonentSummary(abonentId));
    }
    QSqlQuery devices = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"TransKoef\", d.\"IdentNum\", d.\"Ver\", "
                               "d.\"ZavNum\", d.\"ModelId\", m.\"ManufId\", m.\"Name\" AS \"ModelName\", m.\"ResCode\", p.\"Name\" AS "
                               "\"ManufName\" FROM \"InstallTable\" i, \"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" p WHERE "
                               "(i.\"ObjectId\"=") +
                    QString::number(columnNumber(object, "Id")) +
                    QStringLiteral(") AND (i.\"Actual\"=1) AND (i.\"DeviceId\"=d.\"Id\") AND (d.\"Status\"=0) AND "
                                   "(d.\"ModelId\"=m.\"Id\") AND (d.\"ConnectType\" <> 1)") +
                    resourceFilter + QStringLiteral(" AND (m.\"ManufId\"=p.\"Id\") ORDER BY \"DevType\" ASC, \"ZavNum\" ASC LIMIT 500;"),
                &devices, 26)) {
        return false;
    }
    QJsonArray list;
    while (devices.next()) {
        QJsonObject device;
        if (!consumptionDevice(builder, devices, first, last, static_cast<int>(columnNumber(object, "TimeShift")), &device)) {
            return false;
        }
        list.append(device);
    }
    *entry = row.object();
    entry->insert(QStringLiteral("devices"), list);
    return true;
}

bool Api::objectReport(qint64 company, const QDate& first, const QDate& last)
{
    QString conditions;
    QString resourceFilter;
    if (!numberFilter("AddressId", QStringLiteral("a.\"Id\""), 59, &conditions)) {
        return false;
    }
    if (given("ObjType")) {
        const qint64 type = int32Param("ObjType");
        if (type < 0) {
            return fail(220);
        }
        conditions += type == 0 ? QStringLiteral(" AND (o.\"ObjType\" IN (3, 4, 5) )")
                                : QStringLiteral(" AND (o.\"ObjType\"=") + QString::number(type) + QLatin1Char(')');
    }
    if (!numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 239, &resourceFilter, false)) {
        return false;
    }
    QSqlQuery objects = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT o.\"Id\", o.\"ObjType\", o.\"AbonentCode\", o.\"Obj\", o.\"AbonentId\", o.\"Note\", "
                               "a.\"TimeShift\" FROM \"ObjectTable\" o, \"AddressTable\" a WHERE (a.\"CompanyId\"") +
                    companyMatch(company) + QStringLiteral(") AND (a.\"Id\"=o.\"AddressId\")") + conditions +
                    QStringLiteral(" ORDER BY \"ObjType\" ASC, \"Id\" ASC LIMIT 5000;"),
                &objects, 60)) {
        return false;
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    SlotBuilder builder(db(), lookups, debugSink());
    while (objects.next()) {
        QJsonObject entry;
        if (!consumptionObject(builder, objects, first, last, resourceFilter, &entry)) {
            req().clearResponseData();
            return false;
        }
        req().appendResponseRow(entry);
    }
    return succeed();
}

// One device hour by hour: each hour's accumulating values and their consumption since the
// hour before (the first hour since the end of the day before), "rashod" being that of the
// device's first accumulating value.
bool Api::hourReport(const QDate& first, const QDate& last)
{
    qint64 deviceId = 0;
    qint64 transKoef = 1;
    int timeShift = 0;
    DeviceIdentity identity;
    if (!readReadingDevice("DeviceId", 216, &deviceId, &identity, &timeShift, &transKoef)) {
        return false;
    }
    if (first.daysTo(last) > kLongestHourReportDays) {
        return fail(256);
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    SlotBuilder builder(db(), lookups, debugSink());
    // The first hour counts from the end of the day before, estimated like the start of the
    // object report, so that it has a consumption even without a reading in that day's last hour.
    QVector<ArchiveValue> previous;
    if (!valuesAtDayEnd(builder, deviceId, identity, first.addDays(-1), timeShift, &previous)) {
        return false;
    }
    QDateTime start = at(first, 0);
    QDateTime end = at(last.addDays(1), 0, 0, 1);
    QVector<PeriodSlot> table;
    const quint16 code = builder.build(SlotStep::Hour, deviceId, identity, &start, &end, timeShift, true, &table);
    if (code != 0) {
        return fail(code);
    }
    for (const PeriodSlot& slot : table) {
        const QVector<ArchiveValue> values = counters(req().unitSettings(), identity.devType, slot.record.values);
        const int main = values.isEmpty() ? -1 : 0;
        const int before = main < 0 ? -1 : findSameQuantity(previous, values.at(main));
        const QString used = before < 0 ? QString() : usage(identity.devType, previous.at(before), values.at(main));
        req().appendResponseRow(QJsonObject{{QStringLiteral("date"), slot.label.toString(QStringLiteral("yyyy-MM-dd"))},
                                            {QStringLiteral("time"), slot.label.toString(QStringLiteral("HH:mm"))},
                                            {QStringLiteral("rashod"), used.isEmpty() ? 0.0 : used.toDouble()},
                                            {QStringLiteral("values"), shownValues(identity.devType, values, &previous)}});
        previous = values;
    }
    return succeed();
}

bool Api::getReport()
{
    qint64 company = 0;
    if (!allowTypes(UserType::User, UserType::CompanyUser)) {
        return false;
    }
    const QString hour = text("HourReport");
    const bool hourMode = hour == QStringLiteral("true") || hour == QStringLiteral("yes") || hour == QStringLiteral("1");
    QDate first = clientDate(text("StartDate"));
    QDate last = clientDate(text("EndDate"));
    if (!first.isValid() || !last.isValid()) {
        return fail(256);
    }
    if (last < first) {
        std::swap(first, last);
    }
    if (!resolveCompanyId(&company)) {
        return false;
    }
    return hourMode ? hourReport(first, last) : objectReport(company, first, last);
}

} // namespace client
