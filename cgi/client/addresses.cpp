// Addresses: the buildings and sites at which premises and devices lie.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <climits>

namespace client {

using namespace orvela;

namespace {

QString compactJson(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

constexpr qint64 kBadTimeShift = -999999;

// The columns both address listings return.
bool addressRow(const QSqlQuery& query, QJsonObject* object)
{
    JsonRow row(query);
    row.id(QStringLiteral("id"), "Id")
        .text(QStringLiteral("name"), "Name")
        .text(QStringLiteral("postIndex"), "PostIndex")
        .text(QStringLiteral("coordLat"), "CoordLat")
        .text(QStringLiteral("coordLong"), "CoordLong")
        .text(QStringLiteral("note"), "Note")
        .number(QStringLiteral("timeShift"), "TimeShift");
    *object = row.object();
    return row.valid();
}

} // namespace

// The company of an address being written: the caller's own for a company-bound caller,
// else "CompanyId" ("NULL" or a text that is no number is refused with 221; absent or 0 is
// none, so a global caller sends the company again with every change).
bool Api::addressCompany(qint64* company)
{
    if (user().isCompanyBound()) {
        *company = user().companyId;
        return true;
    }
    *company = given("CompanyId") ? int32Param("CompanyId") : 0;
    return *company < 0 ? fail(221) : true;
}

// The offset in minutes, written as the converted number so that a hexadecimal text such as
// 0x3C becomes 60 in the statement.
bool Api::readTimeShift(qint64* minutes)
{
    if (text("TimeShift").trimmed().isEmpty()) {
        return fail(126);
    }
    *minutes = int32Param("TimeShift", kBadTimeShift);
    return *minutes == kBadTimeShift ? fail(127) : true;
}

bool Api::addAddress()
{
    qint64 company = 0;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !addressCompany(&company)) {
        return false;
    }
    const QString name = text("Name").trimmed();
    if (name.isEmpty()) {
        return fail(234);
    }
    qint64 timeShift = 0;
    if (!readTimeShift(&timeShift)) {
        return false;
    }
    QJsonObject data;
    if (given("Fias")) {
        data.insert(QStringLiteral("fias"), text("Fias").trimmed());
    }
    const QString sql =
        QStringLiteral("INSERT INTO \"AddressTable\" (\"Name\", \"PostIndex\", \"CompanyId\", \"CoordLat\", "
                       "\"CoordLong\", \"TimeShift\", \"Note\", \"JsonData\") VALUES (") +
        sqlText(name) + QStringLiteral(", ") + sqlText(text("PostIndex")) + QStringLiteral(", ") + sqlIdOrNull(company) +
        QStringLiteral(", ") + sqlText(text("CoordLat")) + QStringLiteral(", ") + sqlText(text("CoordLong")) +
        QStringLiteral(", ") + QString::number(timeShift) + QStringLiteral(", ") + sqlText(text("Note")) +
        QStringLiteral(", ") + sqlText(compactJson(data)) + QStringLiteral("::json ) RETURNING \"Id\";");
    LockedWrite write(db());
    qint64 id = 0;
    if (!beginWrite(write) || !mayTouchCompany(company, Hold::Link) || !finish(write.execAndCommit(sql, &id))) {
        return false;
    }
    req().setResponseId(id);
    return true;
}

bool Api::updAddress()
{
    qint64 company = 0;
    qint64 addressId = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !addressCompany(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) || !beginWrite(write) ||
        !mayTouchAddress(addressId, Hold::Change, Refusals{112, 112, 217, 217})) {
        return false;
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("select \"JsonData\"::varchar AS \"JsonData\" from \"AddressTable\" where (\"Id\"=") +
                    QString::number(addressId) + QStringLiteral(") limit 1;"),
                &query, 60)) {
        return false;
    }
    query.next();
    QJsonObject data = columnObject(query, "JsonData");
    if (!given("Name")) {
        return fail(234);
    }
    QString list = QStringLiteral("\"Name\"=") + sqlText(text("Name"));
    if (!user().isCompanyBound()) {
        list += QStringLiteral(", \"CompanyId\"=") + sqlIdOrNull(company);
    }
    qint64 timeShift = 0;
    if (!readTimeShift(&timeShift) || !mayTouchCompany(company, Hold::Link)) {
        return false;
    }
    list += QStringLiteral(", \"TimeShift\"=") + QString::number(timeShift);
    for (const char* column : {"PostIndex", "CoordLat", "CoordLong", "Note"}) {
        list += QStringLiteral(", \"") + QLatin1String(column) + QStringLiteral("\"=") + sqlText(text(column));
    }
    if (given("Fias")) {
        data.insert(QStringLiteral("fias"), text("Fias").trimmed());
    } else {
        data.remove(QStringLiteral("fias"));
    }
    list += QStringLiteral(", \"JsonData\"=") + sqlText(compactJson(data)) + QStringLiteral("::json ");
    return finish(write.execAndCommit(QStringLiteral("UPDATE \"AddressTable\" SET ") + list +
                                      QStringLiteral(" WHERE (\"Id\"=") + QString::number(addressId) +
                                      QStringLiteral(");")));
}

// An address that objects use stays. Its row is held while they are looked for, so that an
// object added meanwhile is either seen here or finds the address gone.
bool Api::delAddress()
{
    qint64 addressId = 0;
    bool found = false;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !requiredId("AddressId", 76, 59, &addressId) ||
        !beginWrite(write) || !mayTouchAddress(addressId, Hold::Remove, premisesRefusals(0), &found)) {
        return false;
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT \"Id\" FROM \"ObjectTable\" WHERE (\"AddressId\"=") +
                    QString::number(addressId) + QStringLiteral(") LIMIT 1;"),
                &query, 132)) {
        return false;
    }
    if (query.next()) {
        return fail(204);
    }
    return finish(write.execAndCommit(QStringLiteral("DELETE FROM \"AddressTable\" WHERE (\"Id\"=") +
                                      QString::number(addressId) + QStringLiteral(");")));
}

bool Api::getAddressTable()
{
    qint64 company = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !numberFilter("AddressId", QStringLiteral("a.\"Id\""), 59, &conditions)) {
        return false;
    }
    for (const char* column : {"Name", "PostIndex", "CoordLat", "CoordLong"}) {
        const QByteArray exact = QByteArray(column) + "Full";
        conditions += textFilter(QStringLiteral("a.\"") + QLatin1String(column) + QLatin1Char('"'), exact.constData(), column);
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT a.\"Id\", a.\"Name\", a.\"PostIndex\", a.\"CompanyId\", a.\"CoordLat\", "
                       "a.\"CoordLong\", a.\"TimeShift\", a.\"Note\", (a.\"JsonData\"::varchar) as \"JsonData\"  "
                       "FROM \"AddressTable\" a WHERE (a.\"CompanyId\"") +
        companyMatch(company) + QLatin1Char(')') + conditions +
        QStringLiteral(" ORDER BY \"Name\" ASC, \"Id\" ASC LIMIT 9999;");
    return appendRows(sql, 60, [](const QSqlQuery& query, QJsonObject* object) {
        const bool valid = addressRow(query, object);
        // "data" only when the stored text is a JSON object.
        bool isObject = false;
        const QJsonObject data = columnObject(query, "JsonData", &isObject);
        if (isObject) {
            object->insert(QStringLiteral("data"), data);
        }
        return valid;
    });
}

bool Api::getCompanyAddresses()
{
    qint64 company = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !numberFilter("AddressId", QStringLiteral("a.\"Id\""), 59, &conditions)) {
        return false;
    }
    conditions += textFilter(QStringLiteral("a.\"Name\""), "NameFull", "Name");
    const QString abonent = textFilter(QStringLiteral("ab.\"Name\""), "AbonentNameFull", "AbonentName");
    const bool byAbonent = !abonent.isEmpty();
    if (byAbonent) {
        conditions += QStringLiteral(" AND (o.\"AddressId\"=a.\"Id\") AND (o.\"AbonentId\"=ab.\"Id\")") + abonent;
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT a.\"Id\", a.\"Name\", a.\"PostIndex\", a.\"Note\", a.\"CoordLat\", "
                       "a.\"CoordLong\", a.\"TimeShift\" ") +
        (byAbonent ? QStringLiteral(", o.\"Id\" AS \"ObjId\", o.\"ObjType\", o.\"Obj\", o.\"AbonentId\", "
                                    "ab.\"Name\" AS \"AbonentName\"")
                   : QString()) +
        QStringLiteral(" FROM \"AddressTable\" a") +
        (byAbonent ? QStringLiteral(", \"ObjectTable\" o, \"AbonentTable\" ab") : QString()) +
        QStringLiteral(" WHERE (a.\"CompanyId\"") + companyMatch(company) + QStringLiteral(") ") + conditions +
        QStringLiteral(" ORDER BY \"Name\" ASC LIMIT 9999;");
    return appendRows(sql, 60, addressRow);
}

bool Api::addressInfoRow(const QSqlQuery& query, QJsonObject* row)
{
    JsonRow info(query);
    info.id(QStringLiteral("id"), "Id")
        .id(QStringLiteral("addressId"), "AddressId")
        .text(QStringLiteral("name"), "Name")
        .number(QStringLiteral("objType"), "ObjType")
        .text(QStringLiteral("obj"), "Obj")
        .number(QStringLiteral("abonentId"), "AbonentId")
        .text(QStringLiteral("postIndex"), "PostIndex")
        .number(QStringLiteral("companyId"), "CompanyId")
        .text(QStringLiteral("coordLat"), "CoordLat")
        .text(QStringLiteral("coordLong"), "CoordLong")
        .text(QStringLiteral("sq"), "Sq")
        .text(QStringLiteral("note"), "Note");
    QString abonent;
    if (!columnValue(query, "AbonentId").isNull()) {
        bool ok = false;
        const qint64 abonentId = columnNumber(query, "AbonentId", &ok);
        if (!ok) {
            return fail(181);
        }
        abonent = abonentSummary(abonentId);
    }
    info.value(QStringLiteral("abonent"), abonent);
    QString company;
    if (!columnValue(query, "CompanyId").isNull()) {
        quint16 code = 0;
        company = db().selectValue(QStringLiteral("CompanyTable"), QStringLiteral("Name"),
                                   QStringLiteral("\"Id\"=") + QString::number(columnNumber(query, "CompanyId")),
                                   &code);
        if (code != 0) {
            return fail(code);
        }
    }
    info.value(QStringLiteral("company"), company);
    *row = info.object();
    return true;
}

bool Api::getAddressInfo()
{
    qint64 company = 0;
    qint64 objectId = 0;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !requiredId("ObjectId", 76, 59, &objectId)) {
        return false;
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT o.\"Id\", o.\"ObjType\", o.\"Obj\", o.\"Note\", o.\"Sq\", "
                               "a.\"Name\", a.\"PostIndex\", a.\"CoordLat\", a.\"CoordLong\", a.\"CompanyId\", "
                               "o.\"AbonentId\", o.\"AddressId\" FROM \"ObjectTable\" o, \"AddressTable\" a WHERE "
                               "(o.\"Id\"=") +
                    QString::number(objectId) + QStringLiteral(") AND (o.\"AddressId\"=a.\"Id\") LIMIT 1;"),
                &query, 60)) {
        return false;
    }
    if (!query.next()) {
        return fail(112);
    }
    // A company-bound caller reads only the premises of his own company: another company's
    // object, abonent and contacts are not his to see.
    if (!ownerAllowed(columnValue(query, "CompanyId"), sameRefusals(112, 112))) {
        return false;
    }
    QJsonObject row;
    if (!addressInfoRow(query, &row)) {
        return false;
    }
    req().appendResponseRow(row);
    return succeed();
}

} // namespace client
