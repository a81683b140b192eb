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

bool Api::getManufTable()
{
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !numberFilter("Id", QStringLiteral("\"Id\""), 177, &conditions, false)) {
        return false;
    }
    conditions += textFilter(QStringLiteral("\"Name\""), "NameFull", "Name");
    const QString sql = QStringLiteral("SELECT DISTINCT \"Id\", \"Name\", \"Note\" FROM \"ManufTable\" ") +
                        (conditions.isEmpty() ? QString() : QStringLiteral("WHERE ") + conditions.mid(5)) +
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
    if (!allowTypes(UserType::Operator, kNoCompanyBound)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    return insertNamed(LockSubject::ManufacturerName, "ManufTable", [this](QString* sql) {
        *sql = QStringLiteral("INSERT INTO \"ManufTable\" (\"Name\", \"Note\") VALUES (") + sqlText(text("Name")) +
               QStringLiteral(", ") + sqlText(text("Note")) + QStringLiteral(") RETURNING \"Id\";");
        return true;
    });
}

bool Api::updManuf()
{
    qint64 id = 0;
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 209, 177, &id, false)) {
        return false;
    }
    LockedWrite write(db(), LockSubject::ManufacturerName);
    if (!beginNamedUpdate(write, "ManufTable", id, given("Name"))) {
        return false;
    }
    const QString name = given("Name") ? QStringLiteral("\"Name\"=") + sqlText(text("Name")) + QStringLiteral(", ")
                                       : QString();
    return finish(write.execAndCommit(QStringLiteral("UPDATE \"ManufTable\" SET ") + name + QStringLiteral(" \"Note\"=") +
                                      sqlText(text("Note")) + QStringLiteral(" WHERE \"Id\"=") + QString::number(id) +
                                      QLatin1Char(';')));
}

bool Api::delManuf()
{
    qint64 id = 0;
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 209, 177, &id, false)) {
        return false;
    }
    return deleteUnused("ManufTable", id, "ModelTable", "ManufId",
                        QStringLiteral("DELETE FROM \"ManufTable\" WHERE \"Id\"=") + QString::number(id) +
                            QLatin1Char(';'));
}

bool Api::modelConditions(QString* where)
{
    QString conditions;
    if (!numberFilter("Id", QStringLiteral("m.\"Id\""), 177, &conditions, false)) {
        return false;
    }
    conditions += textFilter(QStringLiteral("m.\"Name\""), "ModelNameFull", "ModelName");
    if (!numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 177, &conditions, false) ||
        !numberFilter("PovInterval", QStringLiteral("m.\"PovInterval\""), 177, &conditions, false)) {
        return false;
    }
    conditions += QStringLiteral(" AND (m.\"ManufId\"=p.\"Id\")");
    if (!numberFilter("ManufId", QStringLiteral("p.\"Id\""), 177, &conditions, false)) {
        return false;
    }
    *where = conditions.mid(5) + textFilter(QStringLiteral("p.\"Name\""), "ManufNameFull", "ManufName");
    return true;
}

bool Api::getModelTable()
{
    QString where;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !modelConditions(&where)) {
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
    if (!allowTypes(UserType::Operator, kNoCompanyBound)) {
        return false;
    }
    if (!given("Name")) {
        return fail(234);
    }
    return insertNamed(LockSubject::ModelName, "ModelTable", [this](QString* sql) {
        qint64 manufacturer = 0;
        if (!requiredId("ManufId", 209, 177, &manufacturer, false)) {
            return false;
        }
        const qint64 resCode = given("ResCode") ? int32Param("ResCode") : 0;
        const qint64 interval = given("PovInterval") ? int32Param("PovInterval") : 72;
        QString json;
        if (resCode < 0 || interval < 0) {
            return fail(resCode < 0 ? 239 : 108);
        }
        // The maker must exist until the model is written.
        if (!loraDataFormat(&json) || !recordExists("ManufTable", manufacturer, Hold::Link, 235)) {
            return false;
        }
        *sql = QStringLiteral("INSERT INTO \"ModelTable\" (\"ManufId\", \"Name\", \"ResCode\", \"PovInterval\", "
                              "\"Photo\", \"Note\", \"JsonData\") VALUES (") +
               QString::number(manufacturer) + QStringLiteral(", ") + sqlText(text("Name")) + QStringLiteral(", ") +
               QString::number(resCode) + QStringLiteral(", ") + QString::number(interval) + QStringLiteral(", '', ") +
               sqlText(text("Note")) + QStringLiteral(", ") + sqlText(json) + QStringLiteral("::json) RETURNING \"Id\";");
        return true;
    });
}

// " "ManufId"=n,  "ResCode"=n,  "PovInterval"=n, ": all three are required on a change, and the
// maker must exist.
bool Api::modelNumbers(QString* list)
{
    for (const char* column : {"ManufId", "ResCode", "PovInterval"}) {
        qint64 value = 0;
        if (!requiredId(column, 209, 177, &value, false)) {
            return false;
        }
        if (qstrcmp(column, "ManufId") == 0 && !recordExists("ManufTable", value, Hold::Link, 235)) {
            return false;
        }
        *list += QStringLiteral(" \"") + QLatin1String(column) + QStringLiteral("\"=") + QString::number(value) +
                 QStringLiteral(", ");
    }
    return true;
}

bool Api::updModel()
{
    qint64 id = 0;
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 209, 177, &id, false)) {
        return false;
    }
    LockedWrite write(db(), LockSubject::ModelName);
    QString list = given("Name") ? QStringLiteral("\"Name\"=") + sqlText(text("Name")) + QStringLiteral(", ") : QString();
    QString json;
    if (!beginNamedUpdate(write, "ModelTable", id, given("Name")) || !modelNumbers(&list) || !loraDataFormat(&json)) {
        return false;
    }
    list += QStringLiteral(" \"Note\"=") + sqlText(text("Note")) + QStringLiteral(", \"JsonData\"=") + sqlText(json) +
            QStringLiteral("::json ");
    return finish(write.execAndCommit(QStringLiteral("UPDATE \"ModelTable\" SET ") + list +
                                      QStringLiteral(" WHERE \"Id\"=") + QString::number(id) + QLatin1Char(';')));
}

bool Api::delModel()
{
    qint64 id = 0;
    if (!allowTypes(UserType::Operator, kNoCompanyBound) || !requiredId("Id", 209, 177, &id, false)) {
        return false;
    }
    return deleteUnused("ModelTable", id, "DeviceTable", "ModelId",
                        QStringLiteral("DELETE FROM \"ModelTable\" WHERE (\"Id\"=") + QString::number(id) +
                            QStringLiteral(");"));
}

} // namespace client
