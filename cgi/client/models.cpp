// Manufacturers of metering devices and the device models they make.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

// A name match: exact when the "...Full" parameter is given, else a substring.
QString nameCondition(const QString& column, const QString& full, const QString& part)
{
    if (!full.isEmpty()) {
        return QLatin1Char('(') + column + QLatin1Char('=') + sqlText(full) + QLatin1Char(')');
    }
    return QLatin1Char('(') + column + QStringLiteral(" LIKE ") +
           sqlText(QLatin1Char('%') + part + QLatin1Char('%')) + QLatin1Char(')');
}

// Runs a name look-up and refuses a name that another record of the table already has.
quint16 checkNameIsFree(Database& db, const QString& table, const QString& name, qint64 ownId)
{
    qint64 found = -1;
    const quint16 code = db.findRecordId(table, QStringLiteral("\"Name\"=") + sqlText(name), &found);
    if (code != 0) {
        return code;
    }
    return (found != -1 && found != ownId) ? 203 : 0;
}

// Whether a record with the id exists: 0, 235 when it does not, or the look-up's code.
quint16 checkExists(Database& db, const QString& table, qint64 id)
{
    qint64 found = -1;
    const quint16 code = db.findRecordId(table, QStringLiteral("\"Id\"=") + QString::number(id), &found);
    return code != 0 ? code : (found == -1 ? 235 : 0);
}

} // namespace

bool Api::getManufTable()
{
    QStringList conditions;
    if (given("Id")) {
        const qint64 id = int32Param("Id");
        if (id < 0) {
            return fail(177);
        }
        conditions << QStringLiteral("(\"Id\"=") + QString::number(id) + QLatin1Char(')');
    }
    if (given("NameFull") || given("Name")) {
        conditions << nameCondition(QStringLiteral("\"Name\""), text("NameFull"), text("Name"));
    }
    const QString sql = QStringLiteral("SELECT DISTINCT \"Id\", \"Name\", \"Note\" FROM \"ManufTable\" ") +
                        (conditions.isEmpty() ? QString()
                                              : QStringLiteral("WHERE ") + conditions.join(QStringLiteral(" AND "))) +
                        QStringLiteral(" ORDER BY \"Name\" ASC LIMIT 9999;");
    return appendRows(sql, 132, [](const QSqlQuery& query, QJsonObject* object) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id").text(QStringLiteral("name"), "Name").text(QStringLiteral("note"), "Note");
        *object = row.object();
        return row.valid();
    });
}

bool Api::addManuf()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    LockedWrite write(db(), LockedWrite::Subject::ManufacturerName);
    quint16 code = write.ok() ? checkNameIsFree(db(), QStringLiteral("ManufTable"), text("Name"), -1) : 132;
    qint64 id = 0;
    if (code == 0) {
        code = write.exec(QStringLiteral("INSERT INTO \"ManufTable\" (\"Name\", \"Note\") VALUES (") +
                              sqlText(text("Name")) + QStringLiteral(", ") + sqlText(text("Note")) +
                              QStringLiteral(") RETURNING \"Id\";"),
                          &id);
    }
    if (code == 0) {
        code = write.commit();
    }
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(id);
    return succeed();
}

bool Api::updManuf()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(209);
    }
    const qint64 id = int32Param("Id");
    if (id < 0) {
        return fail(177);
    }
    LockedWrite write(db(), LockedWrite::Subject::ManufacturerName);
    quint16 code = write.ok() ? checkExists(db(), QStringLiteral("ManufTable"), id) : 132;
    QString list;
    if (code == 0 && given("Name")) {
        code = checkNameIsFree(db(), QStringLiteral("ManufTable"), text("Name"), id);
        list = QStringLiteral("\"Name\"=") + sqlText(text("Name")) + QStringLiteral(", ");
    }
    list += QStringLiteral(" \"Note\"=") + sqlText(text("Note"));
    if (code == 0) {
        code = write.exec(QStringLiteral("UPDATE \"ManufTable\" SET ") + list + QStringLiteral(" WHERE \"Id\"=") +
                          QString::number(id) + QLatin1Char(';'));
    }
    if (code == 0) {
        code = write.commit();
    }
    return code == 0 ? succeed() : fail(code);
}

bool Api::delManuf()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(209);
    }
    const qint64 id = int32Param("Id");
    if (id < 0) {
        return fail(177);
    }
    quint16 code = checkExists(db(), QStringLiteral("ManufTable"), id);
    if (code != 0) {
        return fail(code);
    }
    qint64 model = -1;
    code = db().findRecordId(QStringLiteral("ModelTable"), QStringLiteral("\"ManufId\"=") + QString::number(id),
                             &model);
    if (code != 0) {
        return fail(code);
    }
    if (model != -1) {
        return fail(204);
    }
    return execute(QStringLiteral("DELETE FROM \"ManufTable\" WHERE \"Id\"=") + QString::number(id) +
                   QLatin1Char(';'));
}

bool Api::modelConditions(QString* where)
{
    QStringList conditions;
    const auto addNumber = [&](const char* parameter, const char* column) {
        if (!given(parameter)) {
            return true;
        }
        const qint64 value = int32Param(parameter);
        if (value < 0) {
            return fail(177);
        }
        conditions << QLatin1Char('(') + QLatin1String(column) + QLatin1Char('=') + QString::number(value) +
                          QLatin1Char(')');
        return true;
    };
    if (!addNumber("Id", "m.\"Id\"")) {
        return false;
    }
    if (given("ModelNameFull") || given("ModelName")) {
        conditions << nameCondition(QStringLiteral("m.\"Name\""), text("ModelNameFull"), text("ModelName"));
    }
    if (!addNumber("ResCode", "m.\"ResCode\"") || !addNumber("PovInterval", "m.\"PovInterval\"")) {
        return false;
    }
    conditions << QStringLiteral("(m.\"ManufId\"=p.\"Id\")");
    if (!addNumber("ManufId", "p.\"Id\"")) {
        return false;
    }
    *where = conditions.join(QStringLiteral(" AND "));
    if (given("ManufNameFull") || given("ManufName")) {
        *where += QStringLiteral(" AND ") +
                  nameCondition(QStringLiteral("p.\"Name\""), text("ManufNameFull"), text("ManufName"));
    }
    return true;
}

bool Api::getModelTable()
{
    QString where;
    if (!modelConditions(&where)) {
        return false;
    }
    const QString sql =
        QStringLiteral("SELECT m.\"Id\", m.\"ManufId\", m.\"Name\" AS \"ModelName\", m.\"Photo\", m.\"ResCode\", "
                       "m.\"PovInterval\", m.\"Note\", p.\"Name\" AS \"ManufName\", m.\"JsonData\"::varchar AS "
                       "\"JsonData\" FROM \"ModelTable\" m, \"ManufTable\" p WHERE ") +
        where + QStringLiteral(" ORDER BY \"ManufName\" ASC, \"ModelName\" ASC LIMIT 9999;");
    return appendRows(sql, 132, [](const QSqlQuery& query, QJsonObject* object) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id")
            .text(QStringLiteral("modelName"), "ModelName")
            .id(QStringLiteral("manufId"), "ManufId")
            .text(QStringLiteral("manufName"), "ManufName")
            .text(QStringLiteral("photo"), "Photo")
            .number(QStringLiteral("resCode"), "ResCode")
            .number(QStringLiteral("povInterval"), "PovInterval")
            .text(QStringLiteral("note"), "Note")
            .value(QStringLiteral("data"), columnObject(query, "JsonData"));
        *object = row.object();
        return row.valid();
    });
}

// The model's "JsonData": {"loraDataFormat":n} when the parameter is given, else {}.
bool Api::loraDataFormat(QString* json)
{
    QJsonObject object;
    if (given("LoRaDataFormat")) {
        const qint64 format = int32Param("LoRaDataFormat");
        if (format < 0) {
            return fail(177);
        }
        object.insert(QStringLiteral("loraDataFormat"), format);
    }
    *json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    return true;
}

bool Api::addModel()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    LockedWrite write(db(), LockedWrite::Subject::ModelName);
    const quint16 nameCode = write.ok() ? checkNameIsFree(db(), QStringLiteral("ModelTable"), text("Name"), -1) : 132;
    if (nameCode != 0) {
        return fail(nameCode);
    }
    if (!given("ManufId")) {
        return fail(209);
    }
    const qint64 manufacturer = int32Param("ManufId");
    const qint64 resCode = given("ResCode") ? int32Param("ResCode") : 0;
    const qint64 interval = given("PovInterval") ? int32Param("PovInterval") : 72;
    QString json;
    if (manufacturer < 0) {
        return fail(177);
    }
    if (resCode < 0) {
        return fail(239);
    }
    if (interval < 0) {
        return fail(108);
    }
    if (!loraDataFormat(&json)) {
        return false;
    }
    qint64 id = 0;
    quint16 code = write.exec(
        QStringLiteral("INSERT INTO \"ModelTable\" (\"ManufId\", \"Name\", \"ResCode\", \"PovInterval\", \"Photo\", "
                       "\"Note\", \"JsonData\") VALUES (") +
            QString::number(manufacturer) + QStringLiteral(", ") + sqlText(text("Name")) + QStringLiteral(", ") +
            QString::number(resCode) + QStringLiteral(", ") + QString::number(interval) + QStringLiteral(", '', ") +
            sqlText(text("Note")) + QStringLiteral(", ") + sqlText(json) + QStringLiteral("::json) RETURNING \"Id\";"),
        &id);
    if (code == 0) {
        code = write.commit();
    }
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(id);
    return succeed();
}

bool Api::updModel()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(209);
    }
    const qint64 id = int32Param("Id");
    if (id < 0) {
        return fail(177);
    }
    LockedWrite write(db(), LockedWrite::Subject::ModelName);
    quint16 code = write.ok() ? checkExists(db(), QStringLiteral("ModelTable"), id) : 132;
    QString list;
    if (code == 0 && given("Name")) {
        code = checkNameIsFree(db(), QStringLiteral("ModelTable"), text("Name"), id);
        list = QStringLiteral("\"Name\"=") + sqlText(text("Name")) + QStringLiteral(", ");
    }
    if (code != 0) {
        return fail(code);
    }
    for (const char* column : {"ManufId", "ResCode", "PovInterval"}) {
        if (!given(column)) {
            return fail(209);
        }
        const qint64 value = int32Param(column);
        if (value < 0) {
            return fail(177);
        }
        list += QStringLiteral(" \"") + QLatin1String(column) + QStringLiteral("\"=") + QString::number(value) +
                QStringLiteral(", ");
    }
    QString json;
    if (!loraDataFormat(&json)) {
        return false;
    }
    list += QStringLiteral(" \"Note\"=") + sqlText(text("Note")) + QStringLiteral(", ") +
            QStringLiteral("\"JsonData\"=") + sqlText(json) + QStringLiteral("::json ");
    code = write.exec(QStringLiteral("UPDATE \"ModelTable\" SET ") + list + QStringLiteral(" WHERE \"Id\"=") +
                      QString::number(id) + QLatin1Char(';'));
    if (code == 0) {
        code = write.commit();
    }
    return code == 0 ? succeed() : fail(code);
}

bool Api::delModel()
{
    if (!allowTypes(UserType::Top, UserType::Operator)) {
        return false;
    }
    if (!given("Id")) {
        return fail(209);
    }
    const qint64 id = int32Param("Id");
    if (id < 0) {
        return fail(177);
    }
    quint16 code = checkExists(db(), QStringLiteral("ModelTable"), id);
    if (code != 0) {
        return fail(code);
    }
    qint64 device = -1;
    code = db().findRecordId(QStringLiteral("DeviceTable"), QStringLiteral("\"ModelId\"=") + QString::number(id),
                             &device);
    if (code != 0) {
        return fail(code);
    }
    if (device != -1) {
        return fail(204);
    }
    return execute(QStringLiteral("DELETE FROM \"ModelTable\" WHERE (\"Id\"=") + QString::number(id) +
                   QStringLiteral(");"));
}

} // namespace client
