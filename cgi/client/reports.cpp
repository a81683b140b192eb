// The data of consumption reports: readings at the end of each hour, day, week, month or year
// of a range, and the consumption of the objects of an address or of one device hour by hour.
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

#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

namespace client {

using namespace orvela;

// What "Report" reads: the range, its slots and which of them are reported.
struct Api::ReportRange {
    QDate first;
    QDate last;
    int period = 1; // 0 hours, 1 days, 2 weeks, 3 months, 4 years
    bool withCalc = true;
    SlotStep step = SlotStep::Day;
    QDateTime start; // the base slot, local time
    QDateTime end;
};

namespace {

// "Report" lists at most this many devices of an object.
constexpr int kDevicesPerObject = 100;

QDateTime at(const QDate& date, int hour, int minute = 0, int second = 0)
{
    return QDateTime(date, QTime(hour, minute, second), Qt::UTC);
}

// The longest range in days each report period allows.
int longestRange(int period)
{
    switch (period) {
    case 0:
        return 31;
    case 2:
        return 750;
    case 3:
        return 1450;
    case 4:
        return 1810;
    default:
        return 366;
    }
}

// The slots a report shows: every slot, except for weeks (Monday to Sunday), whose end is
// each Sunday, and years, which close with December; the last slot closes the range.
bool reported(const QVector<PeriodSlot>& table, int index, int period)
{
    if (index == table.size() - 1 || index == 0) {
        return true;
    }
    const QDate date = table.at(index).label.date();
    if (period == 2) {
        return date.dayOfWeek() == Qt::Sunday;
    }
    return period != 4 || date.month() == 12;
}

// A slot's values as JSON text: a report over a year writes hundreds of thousands of them.
void writeValues(const QVector<ArchiveValue>& values, JsonText* text)
{
    text->beginArray();
    for (const ArchiveValue& value : values) {
        text->beginObject()
            .key("edId").value(value.edId)
            .key("postfixNum").value(value.postfixNum)
            .key("prefixNum").value(value.prefixNum)
            .key("titleId").value(value.titleId)
            .key("val").value(value.val)
            .endObject();
    }
    text->endArray();
}

} // namespace

bool Api::readReportRange(ReportRange* range)
{
    range->first = clientDate(text("dateStart"));
    if (!range->first.isValid()) {
        return fail(290);
    }
    range->last = clientDate(text("dateEnd"));
    if (!range->last.isValid()) {
        return fail(291);
    }
    if (range->last < range->first) {
        std::swap(range->first, range->last);
    }
    if (given("resCode") && int32Param("resCode") < 0) {
        return fail(239);
    }
    if (given("obj") && int32Param("obj") < 0) {
        return fail(177);
    }
    range->period = given("period") ? static_cast<int>(int32Param("period")) : 0;
    range->withCalc = text("withCalc") != QStringLiteral("false");
    if (range->first.daysTo(range->last) > longestRange(range->period)) {
        return fail(256);
    }
    range->end = at(range->last, 23, 59, 59);
    switch (range->period) {
    case 0:
        range->step = SlotStep::Hour;
        range->start = at(range->first.addDays(-1), 23, 59, 59);
        break;
    case 2:
        range->step = SlotStep::Day;
        range->start = at(range->first.addDays(-range->first.dayOfWeek()), 0);
        break;
    case 3:
        range->step = SlotStep::Month;
        range->start = at(range->first.addMonths(-1), 0);
        break;
    case 4:
        range->step = SlotStep::Month;
        range->start = at(QDate(range->first.year() - 1, 12, 1), 0);
        break;
    default:
        range->step = SlotStep::Day;
        range->start = at(range->first.addDays(-1), 0);
        break;
    }
    return true;
}

bool Api::reportDevice(SlotBuilder& builder, const ReportRange& range, const QSqlQuery& query, int timeShift,
                       QByteArray* device)
{
    JsonRow row(query);
    row.id(QStringLiteral("id"), "Id")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("manId"), "ManId")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("modelId"), "ModelId")
        .text(QStringLiteral("modelName"), "ModelName")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("manufName"), "ManufName")
        .number(QStringLiteral("transKoef"), "TransKoef")
        .number(QStringLiteral("resCode"), "ResCode")
        .value(QStringLiteral("dateInstall"), columnText(query, "DateInstall").left(10));
    const DeviceIdentity identity = identityOfRow(query);
    QDateTime start = range.start;
    QDateTime end = range.end;
    QVector<PeriodSlot> table;
    const quint16 code = builder.build(range.step, columnNumber(query, "Id"), identity, &start, &end, timeShift,
                                       range.withCalc, &table);
    if (code != 0) {
        return fail(code);
    }
    JsonText values;
    values.beginArray();
    for (int i = 0; i < table.size(); ++i) {
        if (!reported(table, i, range.period)) {
            continue;
        }
        QVector<ArchiveValue> shown = table.at(i).record.values;
        for (ArchiveValue& value : shown) {
            applyUserUnits(req().unitSettings(), identity.devType, &value);
        }
        values.beginObject().key("date").value(slotTimeText(table.at(i).label)).key("values");
        writeValues(shown, &values);
        values.endObject();
    }
    values.endArray();
    const SplitObject head = splitAtKey(row.object(), QStringLiteral("devValues"));
    *device = head.head + values.text() + head.tail;
    return true;
}

// The objects of one address with their devices, as "Report" lists them, written into the
// answer device by device: a report over many addresses is the largest answer there is.
bool Api::reportObjects(SlotBuilder& builder, const ReportRange& range, const QSqlQuery& address)
{
    static const QHash<qint64, QString> groups = {{1, QStringLiteral(" and (o.\"ObjType\"=3)")},
                                                  {2, QStringLiteral(" and (o.\"ObjType\"=5)")},
                                                  {3, QStringLiteral(" and (o.\"ObjType\"=4)")},
                                                  {4, QStringLiteral(" and (o.\"ObjType\"=8)")},
                                                  {5, QStringLiteral(" and (o.\"ObjType\" in (5, 4, 8))")}};
    const qint64 objectId = int64Param("objectId");
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("select distinct o.\"Id\", o.\"ObjType\", o.\"Obj\", o.\"AbonentId\", a.\"Name\" from \"ObjectTable\" o "
                               "left join \"AbonentTable\" a on o.\"AbonentId\"=a.\"Id\"  where (o.\"AddressId\"=") +
                    QString::number(columnNumber(address, "Id")) + QLatin1Char(')') +
                    (given("objectId") ? QStringLiteral(" and (o.\"Id\"=") + QString::number(objectId) + QLatin1Char(')') : QString()) +
                    groups.value(int32Param("obj")) +
                    QStringLiteral(" order by o.\"Id\" asc, o.\"ObjType\" asc, o.\"Obj\" asc limit 5000;"),
                &query, 132)) {
        return false;
    }
    // The devices of all objects are read together, and so are their search windows.
    QSqlQuery devices = db().newQuery();
    QHash<qint64, QList<int>> deviceRows;
    if (!reportDevices(columnIds(query, "Id"), &devices, &deviceRows)) {
        return false;
    }
    builder.expectDevices(columnIds(devices, "Id"));
    const int timeShift = static_cast<int>(columnNumber(address, "TimeShift"));
    while (query.next()) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id")
            .number(QStringLiteral("objType"), "ObjType")
            .text(QStringLiteral("obj"), "Obj")
            .number(QStringLiteral("abonentId"), "AbonentId")
            .text(QStringLiteral("abonentName"), "Name");
        req().answer().open(row.object(), QStringLiteral("devices"));
        for (const int position : deviceRows.value(columnNumber(query, "Id"))) {
            devices.seek(position);
            QByteArray device;
            if (!reportDevice(builder, range, devices, timeShift, &device)) {
                return false;
            }
            req().answer().appendText(device);
            if (!answerWithinLimit()) {
                return false;
            }
        }
        req().answer().close();
    }
    return true;
}

// The devices installed in the objects now, at most 100 per object in id order; *rows lists,
// per object, their positions in *devices.
bool Api::reportDevices(const QList<qint64>& objectIds, QSqlQuery* devices, QHash<qint64, QList<int>>* rows)
{
    if (objectIds.isEmpty()) {
        return true;
    }
    if (!select(QStringLiteral("select * from (select distinct i.\"ObjectId\", d.\"Id\", d.\"IdentNum\", d.\"DevType\", d.\"ManId\", "
                               "d.\"Ver\", d.\"ZavNum\", d.\"ModelId\", d.\"TransKoef\", m.\"Name\" as \"ModelName\", m.\"ManufId\", "
                               "p.\"Name\" as \"ManufName\", m.\"ResCode\", i.\"DateInstall\"::text as \"DateInstall\" from "
                               "\"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" p, \"InstallTable\" i where (i.\"ObjectId\" in (") +
                    sqlIdList(objectIds) +
                    QStringLiteral(")) and (i.\"Actual\"=1) and (i.\"DeviceId\"=d.\"Id\") and (d.\"ModelId\"=m.\"Id\") and "
                                   "(m.\"ManufId\"=p.\"Id\") and (d.\"ConnectType\" <> 1)") +
                    (given("deviceId") ? QStringLiteral(" and (i.\"DeviceId\"=") + QString::number(int64Param("deviceId")) +
                                             QLatin1Char(')')
                                       : QString()) +
                    (given("resCode") ? QStringLiteral(" and (m.\"ResCode\"=") + QString::number(int32Param("resCode")) +
                                            QLatin1Char(')')
                                      : QString()) +
                    QStringLiteral(") x order by \"ObjectId\", \"Id\" asc;"),
                devices, 132)) {
        return false;
    }
    *rows = rowsByColumn(*devices, "ObjectId", kDevicesPerObject);
    return true;
}

bool Api::reportParameters()
{
    const struct {
        const char* name;
        quint16 badCode;
        bool wide;
    } numbers[] = {{"addressId", 59, true}, {"objectId", 146, true}, {"deviceId", 216, true}};
    for (const auto& number : numbers) {
        if (given(number.name) && (number.wide ? int64Param(number.name) : int32Param(number.name)) < 0) {
            return fail(number.badCode);
        }
    }
    return true;
}

// The report's addresses: the caller's company's, those of no company for an account bound to
// no company, every address for a global caller without a company.
QString Api::reportAddresses()
{
    QStringList conditions;
    if (user().companyId > 0 || user().isCompanyBound()) {
        conditions << QStringLiteral("(a.\"CompanyId\"") + companyMatch(user().companyId) + QLatin1Char(')');
    }
    if (given("addressId")) {
        conditions << QStringLiteral("(a.\"Id\"=") + QString::number(int64Param("addressId")) + QLatin1Char(')');
    }
    return QStringLiteral("select distinct a.\"Id\", a.\"Name\", a.\"TimeShift\" from \"AddressTable\" a ") +
           (conditions.isEmpty() ? QString() : QStringLiteral(" where ") + conditions.join(QStringLiteral(" and "))) +
           QStringLiteral(" order by \"Name\" asc limit 1000;");
}

bool Api::report()
{
    ReportRange range;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !reportParameters() || !readReportRange(&range)) {
        return false;
    }
    QSqlQuery addresses = db().newQuery();
    if (!addresses.exec(reportAddresses())) {
        req().logError(QObject::tr("Ошибка при выполнении SQL запроса: ") + addresses.lastError().text());
        return fail(132);
    }
    ReadingLookups lookups(db(), req().unitSettings(), debugSink());
    SlotBuilder builder(db(), lookups, debugSink());
    while (addresses.next()) {
        req().answer().open(QJsonObject{{QStringLiteral("id"), columnNumber(addresses, "Id")},
                                        {QStringLiteral("name"), columnText(addresses, "Name")},
                                        {QStringLiteral("timeShift"), columnNumber(addresses, "TimeShift")}},
                            QStringLiteral("objects"));
        if (!reportObjects(builder, range, addresses)) {
            req().clearResponseData();
            return false;
        }
        req().answer().close();
    }
    return succeed();
}

} // namespace client
