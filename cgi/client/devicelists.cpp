// Device listings: the devices installed at an address or not installed anywhere, the same
// with their descriptions, and the devices heard on the air but not registered.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/sqltext.h"
#include "readings/archiverecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

bool isManufacturerCode(const QString& manId)
{
    if (manId.size() != 3) {
        return false;
    }
    for (const QChar c : manId) {
        if (c < QLatin1Char('A') || c > QLatin1Char('Z')) {
            return false;
        }
    }
    return true;
}

// The columns every listed device carries.
bool deviceRow(const QSqlQuery& query, QJsonObject* object)
{
    JsonRow row(query);
    row.id(QStringLiteral("id"), "Id")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("ver"), "Ver")
        .number(QStringLiteral("status"), "Status")
        .text(QStringLiteral("manId"), "ManId")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .value(QStringLiteral("dateProizv"), columnText(query, "DateProizv").left(10))
        .number(QStringLiteral("transKoef"), "TransKoef")
        .number(QStringLiteral("resCode"), "ResCode")
        .number(QStringLiteral("povInterval"), "PovInterval")
        .number(QStringLiteral("modelId"), "ModelId")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("modelName"), "ModelName")
        .text(QStringLiteral("manufName"), "ManufName");
    *object = row.object();
    return row.valid();
}

// A row of the device table without the texts that other tables make.
bool deviceTableRow(const QSqlQuery& query, QJsonObject* object)
{
    if (!deviceRow(query, object)) {
        return false;
    }
    const QJsonObject model = QJsonDocument::fromJson(columnText(query, "ModelData").toUtf8()).object();
    object->insert(QStringLiteral("connectType"), columnNumber(query, "ConnectType"));
    object->insert(QStringLiteral("note"), columnText(query, "Note"));
    object->insert(QStringLiteral("loraDataFormat"), model.value(QStringLiteral("loraDataFormat")).toInt());
    object->insert(QStringLiteral("wmbus"), wmbusText(identityOfRow(query)));
    object->insert(QStringLiteral("devInfo"), devInfoText(columnText(query, "ModelName"), columnText(query, "ManufName"),
                                                          columnText(query, "ZavNum"), columnNumber(query, "TransKoef")));
    return true;
}

QJsonArray valuesOf(const QString& jsonVal)
{
    QVector<ArchiveValue> values;
    parseArchiveValues(jsonVal, &values);
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

QJsonArray errorsOf(const QString& jsonErr)
{
    QVector<ArchiveError> errors;
    parseArchiveErrors(jsonErr, &errors);
    QJsonArray array;
    for (const ArchiveError& error : errors) {
        array.append(QJsonObject{{QStringLiteral("errorCode"), error.errorCode},
                                 {QStringLiteral("prefixNum"), error.prefixNum},
                                 {QStringLiteral("postfixNum"), error.postfixNum}});
    }
    return array;
}

} // namespace

// The filters of the device itself, in the order clients rely on for the first refusal.
bool Api::deviceConditions(QString* conditions)
{
    if (!numberFilter("Status", QStringLiteral("d.\"Status\""), 160, conditions, false) ||
        !numberFilter("ModelId", QStringLiteral("d.\"ModelId\""), 216, conditions)) {
        return false;
    }
    if (given("IdentNum")) {
        const qint64 identNum = int64Param("IdentNum");
        if (identNum < 0) {
            return fail(216);
        }
        *conditions += QStringLiteral(" AND (d.\"IdentNum\"::varchar LIKE ") + sqlContains(QString::number(identNum)) +
                       QLatin1Char(')');
    }
    if (given("ZavNum")) {
        *conditions += QStringLiteral(" AND (d.\"ZavNum\" LIKE ") + sqlContains(text("ZavNum")) + QLatin1Char(')');
    }
    return numberFilter("DevType", QStringLiteral("d.\"DevType\""), 84, conditions, false) &&
           numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 239, conditions, false) &&
           numberFilter("ManufId", QStringLiteral("m.\"ManufId\""), 216, conditions);
}

// The premises the listing is limited to: an address of the company the command acts for,
// with its optional object filters.
bool Api::installedConditions(bool withObjectId, QString* conditions)
{
    qint64 company = 0;
    qint64 addressId = 0;
    if (!resolveCompanyId(&company) || !requiredId("AddressId", 76, 59, &addressId)) {
        return false;
    }
    *conditions = QStringLiteral("(a.\"CompanyId\"") + companyMatch(company) + QStringLiteral(") AND (a.\"Id\"=") +
                  QString::number(addressId) + QLatin1Char(')') + textFilter(QStringLiteral("o.\"Obj\""), "ObjFull", "Obj");
    if (!numberFilter("ObjType", QStringLiteral("o.\"ObjType\""), 220, conditions, false)) {
        return false;
    }
    return !withObjectId || numberFilter("ObjectId", QStringLiteral("o.\"Id\""), 146, conditions);
}

// The statement of Get_Devices and Get_DeviceTable. Global callers may ask with "NotInstall"
// for the devices installed nowhere, of every company; everybody else lists the devices
// installed at an address of his company.
bool Api::devicesStatement(bool table, QString* sql)
{
    const bool notInstalled = typeAllowed(UserType::User, kNoCompanyBound) && given("NotInstall");
    QString premises;
    QString conditions;
    if ((!notInstalled && !installedConditions(table, &premises)) || !deviceConditions(&conditions)) {
        return false;
    }
    *sql = QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", "
                          "d.\"DateProizv\"::text AS \"DateProizv\", d.\"ModelId\", d.\"Status\", d.\"Note\", d.\"TransKoef\", "
                          "m.\"Name\" AS \"ModelName\", m.\"ResCode\", m.\"PovInterval\", m.\"ManufId\", p.\"Name\" AS "
                          "\"ManufName\"") +
           (table ? QStringLiteral(", d.\"ConnectType\", m.\"JsonData\"::varchar as \"ModelData\"") : QString()) +
           (notInstalled ? QString() : QStringLiteral(", o.\"AbonentId\" ")) +
           QStringLiteral(" FROM \"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" p") +
           (notInstalled ? QString() : QStringLiteral(", \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a ")) +
           QStringLiteral(" WHERE (d.\"ModelId\"=m.\"Id\") AND (m.\"ManufId\"=p.\"Id\") AND (d.\"ConnectType\" <> 1) ") +
           conditions +
           // NOT EXISTS rather than NOT IN: an anti-join stays linear when the installations
           // outgrow the server's work memory (NOT IN then rescans them for every device), and
           // an installation row without a device does not hide every other device.
           (notInstalled ? QStringLiteral(" AND (NOT EXISTS (SELECT 1 FROM \"InstallTable\" ni WHERE (ni.\"DeviceId\"=d.\"Id\") "
                                          "AND (ni.\"Actual\"=1)))")
                         : QStringLiteral(" AND (d.\"Id\"=i.\"DeviceId\") AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") AND "
                                          "(o.\"AddressId\"=a.\"Id\") AND ") + premises) +
           QStringLiteral(" ORDER BY \"Id\" ASC LIMIT 10000;");
    return true;
}

bool Api::getDevices()
{
    QString sql;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !devicesStatement(false, &sql)) {
        return false;
    }
    return appendRows(sql, 132, deviceRow, 258);
}

// The rows are read first, then the installation, abonent and verification texts of all of
// them at once: a house of thousands of meters costs four statements, not three a meter.
bool Api::getDeviceTable()
{
    QString sql;
    QSqlQuery query = db().newQuery();
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !devicesStatement(true, &sql) || !select(sql, &query, 132)) {
        return false;
    }
    QVector<QJsonObject> rows;
    QList<qint64> ids;
    while (query.next()) {
        QJsonObject row;
        if (!deviceTableRow(query, &row)) {
            return fail(258);
        }
        rows.append(row);
        ids.append(columnNumber(query, "Id"));
    }
    const DeviceTexts texts = deviceTexts(db(), ids, [this](const QString& error) { req().logError(error); });
    for (int i = 0; i < rows.size(); ++i) {
        rows[i].insert(QStringLiteral("install"), texts.install.value(ids.at(i)));
        rows[i].insert(QStringLiteral("abonent"), texts.abonent.value(ids.at(i)));
        rows[i].insert(QStringLiteral("poverka"), texts.poverka.value(ids.at(i)));
        req().appendResponseRow(rows.at(i));
    }
    return succeed();
}

bool Api::tmpDevConditions(QStringList* conditions)
{
    if (given("IdentNum")) {
        const qint64 identNum = int64Param("IdentNum");
        if (identNum < 0) {
            return fail(216);
        }
        *conditions << QStringLiteral("(\"IdentNum\"::varchar LIKE ") + sqlContains(QString::number(identNum)) +
                           QLatin1Char(')');
    }
    if (given("ManId")) {
        const QString manId = text("ManId").trimmed().toUpper();
        if (!isManufacturerCode(manId)) {
            return fail(103);
        }
        *conditions << QStringLiteral("(\"ManId\"=") + sqlText(manId) + QLatin1Char(')');
    }
    const struct {
        const char* name;
        quint16 badCode;
    } numbers[] = {{"DevType", 84}, {"Ver", 92}};
    for (const auto& field : numbers) {
        if (given(field.name)) {
            const qint64 number = int32Param(field.name);
            if (number < 0) {
                return fail(field.badCode);
            }
            *conditions << QStringLiteral("(\"") + QLatin1String(field.name) + QStringLiteral("\"=") +
                               QString::number(number) + QLatin1Char(')');
        }
    }
    return true;
}

// The newest record of each radio identity heard but not registered: for the global users,
// who register devices for every company.
bool Api::getTmpDevTable()
{
    QStringList conditions;
    if (!allowTypes(UserType::User, kNoCompanyBound) || !tmpDevConditions(&conditions)) {
        return false;
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT ON (\"IdentNum\", \"DevType\", \"Ver\", \"ManId\") \"IdentNum\", \"DevType\", \"Ver\", "
                       "\"ManId\", \"ArcDate\"::text AS \"ArcDate\", \"RecDate\"::text AS \"RecDate\", (\"JsonVal\"::varchar) AS "
                       "\"JsonVal\", (\"JsonErr\"::varchar) AS \"JsonErr\" FROM \"TmpDevTable\"") +
        (conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "))) +
        QStringLiteral(" ORDER BY \"IdentNum\", \"DevType\", \"Ver\", \"ManId\", \"RecDate\" DESC LIMIT 10000;");
    return appendRows(sql, 132, [](const QSqlQuery& query, QJsonObject* object) {
        JsonRow row(query);
        row.number(QStringLiteral("identNum"), "IdentNum")
            .text(QStringLiteral("manId"), "ManId")
            .number(QStringLiteral("devType"), "DevType")
            .number(QStringLiteral("ver"), "Ver")
            .value(QStringLiteral("arcDate"), archiveUtcDateTime(columnValue(query, "ArcDate"))
                                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm")))
            .value(QStringLiteral("recDate"), archiveUtcDateTime(columnValue(query, "RecDate"))
                                                  .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
            .value(QStringLiteral("values"), valuesOf(columnText(query, "JsonVal")))
            .value(QStringLiteral("errors"), errorsOf(columnText(query, "JsonErr")));
        *object = row.object();
        return row.valid();
    });
}

} // namespace client
