// Readings over a period: one slot per hour, day or month with the consumption of each, for
// one device or for every device of the objects at an address.
#include "cgi/client/api.h"

#include "app/jsontext.h"

#include "app/httporvelaserver.h"
#include "cgi/client/clientdates.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"
#include "readings/lookups.h"
#include "readings/slotbuilder.h"
#include "readings/units.h"
#include "readings/vocabulary.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

// A table of readings the client asked for: the slot kind and the local times of the base
// slot and of the end.
struct Api::PeriodRequest {
    SlotStep step = SlotStep::Day;
    QDateTime start;
    QDateTime end;
    bool withCalc = true;
    bool scale = false;
};

namespace {

constexpr int kDevicesPerObject = 500;

constexpr int kLongestPeriodDays = 366;


QDateTime at(const QDate& date, int hour, int minute = 0, int second = 0)
{
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

// The main value of a slot: its last accumulating register.
int mainValue(int devType, const QVector<ArchiveValue>& values)
{
    for (int i = values.size() - 1; i >= 0; --i) {
        const ArchiveValue& v = values.at(i);
        if (isCounterValue(devType, v, v.prefixNum, v.postfixNum, false)) {
            return i;
        }
    }
    return -1;
}

} // namespace

// "Period" with its anchors, as the slot builders take it. The first slot is the base slot:
// the reading before the period that the first consumption starts from.
bool Api::readPeriod(PeriodRequest* period)
{
    const QString kind = text("Period");
    if (kind != QLatin1String("year") && kind != QLatin1String("month") && kind != QLatin1String("day") &&
        kind != QLatin1String("period")) {
        return fail(257);
    }
    period->withCalc = !given("NoCalc");
    period->scale = text("TransKoef") == QStringLiteral("1");
    if (kind == QLatin1String("period")) {
        return readCustomPeriod(period);
    }
    const QDate date = given("Date") ? clientDate(text("Date")) : req().requestTime().date();
    if (!date.isValid()) {
        return fail(256);
    }
    if (kind == QLatin1String("year")) {
        period->step = SlotStep::Month;
        period->start = at(QDate(date.year() - 1, 12, 25), 0);
        period->end = at(QDate(date.year(), 12, 31), 23, 59, 59);
    } else if (kind == QLatin1String("month")) {
        const QDate first(date.year(), date.month(), 1);
        period->step = SlotStep::Day;
        period->start = at(first, 0).addSecs(-3600);
        period->end = at(first.addMonths(1).addDays(-1), 23, 59, 59);
    } else {
        period->step = SlotStep::Hour;
        period->start = at(date, 0);
        period->end = at(date.addDays(1), 0, 0, 1);
    }
    return true;
}

// "StartDate" to "EndDate" by days, in either order, a year at most.
bool Api::readCustomPeriod(PeriodRequest* period)
{
    QDate first = clientDate(text("StartDate"));
    QDate last = clientDate(text("EndDate"));
    if (!first.isValid() || !last.isValid()) {
        return fail(256);
    }
    if (last < first) {
        std::swap(first, last);
    }
    if (first.daysTo(last) > kLongestPeriodDays) {
        return fail(256);
    }
    period->step = SlotStep::Day;
    period->start = at(first, 0).addSecs(-3600);
    period->end = at(last, 23);
    return true;
}

// The slots' values as the client sees them: coefficients, units, then the precision, which
// cuts only what is shown, never what the consumption is computed from.
void Api::presentSlots(int devType, qint64 transKoef, QVector<PeriodSlot>* table)
{
    const UserUnitSettings& units = req().unitSettings();
    for (PeriodSlot& slot : *table) {
        for (ArchiveValue& value : slot.record.values) {
            if (transKoef != 1 && isCounterValue(devType, value, value.prefixNum, value.postfixNum, false)) {
                applyTransKoef(transKoef, &value);
            }
            applyUserUnit(units, devType, &value);
        }
    }
}

// The consumption of a quantity since the previous slot, cut to the client's precision;
// empty when the previous slot lacks it. It is written with 2 decimals, or with as many as the
// client asked for when that is more, so that a finer precision shows the steps it asks for.
QString Api::slotConsumption(int devType, const PeriodSlot* previous, const ArchiveValue& value)
{
    const int index = previous ? findSameQuantity(previous->record.values, value) : -1;
    if (index < 0) {
        return QString();
    }
    const int decimals = qMax(2, userPrecision(req().unitSettings(), devType));
    const QString ras = consumption(previous->record.values.at(index).val, value.val, decimals);
    return ras.isEmpty() ? ras : applyUserPrecision(req().unitSettings(), devType, ras);
}

// The slot entries of a device's table, written as compact JSON text, and the value table of
// the last one, which Get_PeriodValues repeats as the device's "values".
struct Api::SlotTable {
    QByteArrayList entries;
    QByteArray lastValues = "[]";
};

// One slot entry, written as its JSON text: a table holds thousands of them, and building
// them as Qt JSON objects first cost more than reading their rows. Keys in sorted order.
QByteArray Api::slotEntry(int devType, const PeriodSlot* previous, const PeriodSlot& slot, QByteArray* valTable)
{
    JsonText table;
    table.beginArray();
    QStringList lines;
    for (const ArchiveValue& value : slot.record.values) {
        ArchiveValue shown = value;
        shown.val = applyUserPrecision(req().unitSettings(), devType, value.val);
        const bool counter = isCounterValue(devType, value, value.prefixNum, value.postfixNum, true);
        table.beginObject()
            .key("edId").value(value.edId)
            .key("postfixNum").value(value.postfixNum)
            .key("prefixNum").value(value.prefixNum)
            .key("ras").value(counter ? slotConsumption(devType, previous, value) : QString())
            .key("titleId").value(value.titleId)
            .key("val").value(shown.val)
            .endObject();
        const QString line = valueDisplayText(devType, shown);
        if (!line.isEmpty()) {
            lines << line;
        }
    }
    table.endArray();
    *valTable = table.text();
    const int main = mainValue(devType, slot.record.values);
    const bool hasMain = main >= 0;
    JsonText entry;
    entry.beginObject()
        .key("date").value(slotTimeText(slot.label))
        .key("edId").value(hasMain ? slot.record.values.at(main).edId : 0)
        .key("errors").value(slot.record.errorText)
        .key("ras").value(hasMain ? slotConsumption(devType, previous, slot.record.values.at(main)) : QString())
        .key("recDate").value(slot.stored ? slotTimeText(slot.record.recDate) : QString())
        .key("titleId").value(hasMain ? slot.record.values.at(main).titleId : 0)
        .key("val").value(lines.join(QLatin1Char('\n')))
        .key("valTable").raw(*valTable)
        .endObject();
    return entry.text();
}

// The entries of every slot after the base slot.
quint16 Api::periodTable(SlotBuilder& builder, const PeriodRequest& period, qint64 deviceId, const DeviceIdentity& identity,
                         int timeShift, qint64 transKoef, SlotTable* entries)
{
    QDateTime start = period.start;
    QDateTime end = period.end;
    QVector<PeriodSlot> table;
    const quint16 code = builder.build(period.step, deviceId, identity, &start, &end, timeShift, period.withCalc, &table);
    if (code != 0) {
        return code;
    }
    presentSlots(identity.devType, period.scale ? transKoef : 1, &table);
    for (int i = 1; i < table.size(); ++i) {
        entries->entries.append(slotEntry(identity.devType, &table.at(i - 1), table.at(i), &entries->lastValues));
    }
    return 0;
}

// The device whose readings a command reads: any device for a global caller (one installed
// nowhere is read in UTC), only one installed in his company now for a company-bound caller.
bool Api::readReadingDevice(const char* parameter, quint16 badCode, qint64* deviceId, DeviceIdentity* identity,
                            int* timeShift, qint64* transKoef)
{
    *deviceId = int64Param(parameter, 0);
    if (*deviceId < 1) {
        return fail(badCode);
    }
    if (user().isCompanyBound() && !mayTouchDevice(*deviceId, Hold::None, sameRefusals(246, 246))) {
        return false;
    }
    // The identity, the coefficient and the address's offset in one statement: each statement
    // of a CGI request costs a round trip and a plan on a fresh connection.
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"TransKoef\", (SELECT "
                               "a.\"TimeShift\" FROM \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a WHERE "
                               "(i.\"DeviceId\"=d.\"Id\") AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") AND "
                               "(o.\"AddressId\"=a.\"Id\") LIMIT 1) AS \"TimeShift\" FROM \"DeviceTable\" d WHERE (d.\"Id\"=") +
                    QString::number(*deviceId) + QStringLiteral(");"),
                &query, 26)) {
        return false;
    }
    if (!query.next()) {
        return fail(246);
    }
    *identity = identityOfRow(query);
    *transKoef = columnNumber(query, "TransKoef");
    *timeShift = static_cast<int>(columnNumber(query, "TimeShift"));
    return true;
}

bool Api::getDevValues()
{
    qint64 company = 0;
    qint64 deviceId = 0;
    qint64 transKoef = 1;
    int timeShift = 0;
    DeviceIdentity identity;
    PeriodRequest period;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !readReadingDevice("DeviceId", 90, &deviceId, &identity, &timeShift, &transKoef) || !readPeriod(&period)) {
        return false;
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    SlotBuilder builder(db(), lookups, debugSink());
    SlotTable table;
    const quint16 code = periodTable(builder, period, deviceId, identity, timeShift, transKoef, &table);
    if (code != 0) {
        return fail(code);
    }
    for (const QByteArray& entry : table.entries) {
        req().appendResponseRowText(entry);
    }
    return succeed();
}

// One device of Get_PeriodValues: its identity line, its slot table and, as "values", the
// values of the period's last slot.
bool Api::periodDevice(SlotBuilder& builder, const PeriodRequest& period, const QSqlQuery& query, int timeShift,
                       QByteArray* device)
{
    const DeviceIdentity identity = identityOfRow(query);
    const qint64 koef = columnNumber(query, "TransKoef");
    const QJsonObject model = QJsonDocument::fromJson(columnText(query, "JsonData").toUtf8()).object();
    SlotTable table;
    const quint16 code = periodTable(builder, period, columnNumber(query, "Id"), identity, timeShift, koef, &table);
    if (code != 0) {
        return fail(code);
    }
    JsonRow row(query);
    row.id(QStringLiteral("id"), "Id").number(QStringLiteral("devType"), "DevType").number(QStringLiteral("resCode"), "ResCode");
    if (!row.valid()) {
        return fail(240);
    }
    QJsonObject head = row.object();
    head.insert(QStringLiteral("info"), QString(QStringLiteral("WMBus: ") + wmbusLine(identity) +
                                                QObject::tr("\nКоэф.трансформации: ") + QString::number(koef) +
                                                QStringLiteral(" DataFormat:") +
                                                QString::number(model.value(QStringLiteral("loraDataFormat")).toInt())));
    // "valTable" and "values" sort after every key of the head, so they close the object.
    *device = QJsonDocument(head).toJson(QJsonDocument::Compact);
    device->chop(1);
    device->append(",\"valTable\":[").append(table.entries.join(',')).append("],\"values\":").append(table.lastValues).append('}');
    return true;
}

// The active devices of all objects, read at once; *rows lists, per object, the positions of
// its devices in *devices (at most 500 each, in type and factory number order).
bool Api::periodDevices(const QList<qint64>& objectIds, const QString& resourceFilter, QSqlQuery* devices,
                        QHash<qint64, QList<int>>* rows)
{
    if (objectIds.isEmpty()) {
        return true;
    }
    if (!select(QStringLiteral("SELECT * FROM (SELECT DISTINCT i.\"ObjectId\", d.\"Id\", d.\"DevType\", d.\"ManId\", "
                               "d.\"TransKoef\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", d.\"ModelId\", m.\"ManufId\", m.\"Name\" AS "
                               "\"ModelName\", m.\"ResCode\", p.\"Name\" AS \"ManufName\", m.\"JsonData\"::varchar as \"JsonData\" "
                               "FROM \"InstallTable\" i, \"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" p WHERE "
                               "(i.\"ObjectId\" IN (") +
                    sqlIdList(objectIds) +
                    QStringLiteral(")) AND (i.\"Actual\"=1) AND (i.\"DeviceId\"=d.\"Id\") AND (d.\"Status\"=0 AND "
                                   "(d.\"ConnectType\" <> 1) ) AND (d.\"ModelId\"=m.\"Id\")") +
                    resourceFilter +
                    QStringLiteral(" AND (m.\"ManufId\"=p.\"Id\")) x ORDER BY \"ObjectId\", \"DevType\" ASC, \"ZavNum\" ASC, "
                                   "\"Id\" ASC;"),
                devices, 26)) {
        return false;
    }
    *rows = rowsByColumn(*devices, "ObjectId", kDevicesPerObject);
    return true;
}

// One object with its devices, written into the answer device by device.
bool Api::periodObject(SlotBuilder& builder, const PeriodRequest& period, const QSqlQuery& object, QSqlQuery& devices,
                       const QList<int>& deviceRows)
{
    JsonRow row(object);
    row.id(QStringLiteral("objectId"), "Id").number(QStringLiteral("objType"), "ObjType").text(QStringLiteral("obj"), "Obj");
    if (!row.valid()) {
        return fail(128);
    }
    if (!object.value(QStringLiteral("AbonentId")).isNull()) {
        const qint64 abonentId = columnNumber(object, "AbonentId");
        row.value(QStringLiteral("abonentId"), abonentId).value(QStringLiteral("abonentInfo"), abonentSummary(abonentId));
    }
    req().answer().open(row.object(), QStringLiteral("devices"));
    for (const int position : deviceRows) {
        devices.seek(position);
        QByteArray device;
        if (!periodDevice(builder, period, devices, static_cast<int>(columnNumber(object, "TimeShift")), &device)) {
            return false;
        }
        req().answer().appendText(device);
        if (!answerWithinLimit()) {
            return false;
        }
    }
    req().answer().close();
    return true;
}

bool Api::getPeriodValues()
{
    qint64 company = 0;
    qint64 addressId = 0;
    PeriodRequest period;
    QString objectFilter;
    QString resourceFilter;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) || !readPeriod(&period) ||
        !requiredId("AddressId", 76, 59, &addressId) ||
        !numberFilter("ObjType", QStringLiteral("o.\"ObjType\""), 220, &objectFilter, false) ||
        !numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 239, &resourceFilter, false)) {
        return false;
    }
    QSqlQuery objects = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT o.\"Id\", o.\"ObjType\", o.\"Obj\", o.\"Note\", a.\"TimeShift\", o.\"AbonentId\" "
                               "FROM \"ObjectTable\" o, \"AddressTable\" a WHERE (a.\"CompanyId\"") +
                    companyMatch(company) + QStringLiteral(") AND (a.\"Id\"=o.\"AddressId\") AND (a.\"Id\"=") +
                    QString::number(addressId) + QLatin1Char(')') + objectFilter +
                    QStringLiteral(" ORDER BY \"ObjType\" ASC, \"Id\" ASC LIMIT 5000;"),
                &objects, 60)) {
        return false;
    }
    // The devices, abonents and search windows of all objects are read together.
    QSqlQuery devices = db().newQuery();
    QHash<qint64, QList<int>> deviceRows;
    if (!periodDevices(columnIds(objects, "Id"), resourceFilter, &devices, &deviceRows)) {
        return false;
    }
    readAbonentSummaries(columnIds(objects, "AbonentId"));
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    SlotBuilder builder(db(), lookups, debugSink());
    builder.expectDevices(columnIds(devices, "Id"));
    while (objects.next()) {
        if (!periodObject(builder, period, objects, devices, deviceRows.value(columnNumber(objects, "Id")))) {
            req().clearResponseData();
            return false;
        }
    }
    return succeed();
}

} // namespace client
