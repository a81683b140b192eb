// Objects: the premises at an address (flats, houses, common areas).
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/intrule.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonObject>
#include <QSqlQuery>

#include <climits>

namespace client {

using namespace orvela;

namespace {
constexpr qint64 kLargestSeries = 1000;
} // namespace

bool Api::objectFilters(QString* conditions)
{
    if (!numberFilter("ObjectId", QStringLiteral("o.\"Id\""), 146, conditions)) {
        return false;
    }
    *conditions += textFilter(QStringLiteral("\"Obj\""), "ObjFull", "Obj");
    if (!numberFilter("ObjType", QStringLiteral("\"ObjType\""), 220, conditions, false) ||
        !numberFilter("AbonentId", QStringLiteral("\"AbonentId\""), 116, conditions)) {
        return false;
    }
    return true;
}

bool Api::getObjectTable()
{
    qint64 company = 0;
    qint64 addressId = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) || !objectFilters(&conditions)) {
        return false;
    }
    const QString sql = QStringLiteral("SELECT DISTINCT o.\"Id\", \"AddressId\", \"ObjType\", \"Obj\", \"AbonentId\", "
                                       "\"Sq\", o.\"Note\"  FROM \"ObjectTable\" o, \"AddressTable\" a  WHERE "
                                       "(\"AddressId\"=") +
                        QString::number(addressId) + QStringLiteral(") AND (\"AddressId\"=a.\"Id\") AND (\"CompanyId\"") +
                        companyMatch(company) + QLatin1Char(')') + conditions +
                        QStringLiteral(" ORDER BY \"ObjType\" ASC, \"Id\" ASC LIMIT 9999;");
    return appendRows(
        sql, 132,
        [this](const QSqlQuery& query, QJsonObject* object) {
            JsonRow row(query);
            row.id(QStringLiteral("id"), "Id")
                .number(QStringLiteral("objType"), "ObjType")
                .text(QStringLiteral("obj"), "Obj")
                .number(QStringLiteral("abonentId"), "AbonentId")
                .text(QStringLiteral("sq"), "Sq")
                .text(QStringLiteral("note"), "Note");
            QString abonentName;
            if (!columnValue(query, "AbonentId").isNull()) {
                quint16 code = 0;
                abonentName = db().selectValue(QStringLiteral("AbonentTable"), QStringLiteral("Name"),
                                               QStringLiteral("\"Id\"=") +
                                                   QString::number(columnNumber(query, "AbonentId")),
                                               &code);
                if (code != 0) {
                    return false;
                }
            }
            row.value(QStringLiteral("abonentName"), abonentName);
            *object = row.object();
            return row.valid();
        },
        132);
}

// ObjCount objects named prefix + number, all in one statement so that a series is written
// whole or not at all.
bool Api::objectSeries(LockedWrite& write, qint64 addressId, qint64 objType, const QString& note)
{
    const qint64 count = given("ObjCount") ? int32Param("ObjCount", 0) : 1;
    if (count < 1) {
        return fail(177);
    }
    const qint64 start = given("StartNum") ? int32Param("StartNum", LLONG_MIN) : 1;
    if (start == LLONG_MIN) {
        return fail(177);
    }
    const QString prefix = given("ObjPrefix") ? text("ObjPrefix") : QStringLiteral("obj");
    const QString head = QStringLiteral("INSERT INTO \"ObjectTable\" (\"AddressId\", \"ObjType\", \"Obj\", "
                                        "\"AbonentId\", \"Sq\", \"Note\") VALUES ");
    if (count == 1) {
        QString abonent = QStringLiteral("NULL");
        if (given("AbonentId") && !readAbonentLink(&abonent)) {
            return false;
        }
        const QString obj = given("Obj") ? text("Obj") : prefix + QString::number(start);
        qint64 id = 0;
        if (!finish(write.execAndCommit(head + QStringLiteral(" (") + QString::number(addressId) + QStringLiteral(", ") +
                                            QString::number(objType) + QStringLiteral(", ") + sqlText(obj) +
                                            QStringLiteral(", ") + abonent + QStringLiteral(", ") + sqlText(text("Sq")) +
                                            QStringLiteral(", ") + note + QStringLiteral(") RETURNING \"Id\";"),
                                        &id))) {
            return false;
        }
        req().setResponseId(id);
        return true;
    }
    if (count > kLargestSeries) {
        return fail(229);
    }
    QStringList rows;
    for (qint64 i = 0; i < count; ++i) {
        rows << QStringLiteral(" (") + QString::number(addressId) + QStringLiteral(", ") + QString::number(objType) +
                    QStringLiteral(", ") + sqlText(prefix + QString::number(start + i)) +
                    QStringLiteral(", NULL, '', ") + note + QLatin1Char(')');
    }
    return finish(write.execAndCommit(head + rows.join(QStringLiteral(", ")) + QLatin1Char(';')));
}

// The abonent an object is linked to: he must exist and, for a company-bound caller, occupy
// an object of the caller's company already; otherwise walking ids would reveal every
// abonent of the service through the object's listings.
bool Api::readAbonentLink(QString* abonent)
{
    const qint64 id = int64Param("AbonentId");
    if (id < 0) {
        return fail(116);
    }
    *abonent = QString::number(id);
    return mayTouchAbonent(id, Hold::Link, 144);
}

bool Api::addObject()
{
    qint64 company = 0;
    qint64 addressId = 0;
    qint64 objType = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) || !beginWrite(write) ||
        !mayTouchAddress(addressId, Hold::Link, premisesRefusals(112)) ||
        !requiredId("ObjType", 219, 220, &objType, false)) {
        return false;
    }
    return objectSeries(write, addressId, objType, sqlText(text("Note")));
}

bool Api::updObject()
{
    qint64 company = 0;
    qint64 objectId = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("ObjectId", 145, 146, &objectId) || !beginWrite(write) ||
        !mayTouchObject(objectId, Hold::Change, premisesRefusals(190))) {
        return false;
    }
    if (!given("Obj")) {
        return fail(230);
    }
    QString list = QStringLiteral("\"Obj\"=") + sqlText(text("Obj"));
    qint64 objType = 0;
    if (!requiredId("ObjType", 219, 220, &objType, false)) {
        return false;
    }
    list += QStringLiteral(", \"ObjType\"=") + QString::number(objType);
    if (given("AbonentId")) {
        QString abonent = QStringLiteral("NULL");
        if (text("AbonentId").trimmed().compare(QLatin1String("null"), Qt::CaseInsensitive) != 0 &&
            !readAbonentLink(&abonent)) {
            return false;
        }
        list += QStringLiteral(", \"AbonentId\"=") + abonent;
    }
    for (const char* column : {"Sq", "Note"}) {
        if (given(column)) {
            list += QStringLiteral(", \"") + QLatin1String(column) + QStringLiteral("\"=") + sqlText(text(column));
        }
    }
    return finish(write.execAndCommit(QStringLiteral("UPDATE \"ObjectTable\" SET ") + list +
                                      QStringLiteral(" WHERE (\"Id\"=") + QString::number(objectId) +
                                      QStringLiteral(");")));
}

// An object with installations or personal accounts stays; its row is held while they are
// looked for, so that one added meanwhile is either seen here or finds the object gone.
bool Api::delObject()
{
    qint64 company = 0;
    qint64 objectId = 0;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("ObjectId", 145, 146, &objectId) || !beginWrite(write) ||
        !mayTouchObject(objectId, Hold::Remove, premisesRefusals(0))) {
        return false;
    }
    for (const char* table : {"InstallTable", "LicAccountTable"}) {
        qint64 found = -1;
        const quint16 code = db().findRecordId(QString::fromLatin1(table),
                                               QStringLiteral("\"ObjectId\"=") + QString::number(objectId), &found);
        if (code != 0) {
            return fail(code);
        }
        if (found >= 1) {
            return fail(204);
        }
    }
    return finish(write.execAndCommit(QStringLiteral("DELETE FROM \"ObjectTable\" WHERE (\"Id\"=") +
                                      QString::number(objectId) + QStringLiteral(");")));
}

} // namespace client
