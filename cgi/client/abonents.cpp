// Abonents: the consumers attached to objects, with a log-in of their own.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/datafields.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonObject>
#include <QSqlQuery>

#include <climits>

namespace client {

using namespace orvela;

// One element of "DATA" as the abonent commands read it.
struct Api::AbonentRecord {
    qint64 objectId = 0;
    QString name;
    QString login;
    QString pas;
    QString mail;
    QString phone;
    qint64 status = 1;
    bool changePas = false;

    QString mailSql() const { return sqlTextOrNull(mail); }
    QString phoneSql() const { return sqlTextOrNull(phone); }
};

namespace {

QString loginList(const QStringList& logins)
{
    QStringList quoted;
    for (const QString& login : logins) {
        quoted << sqlText(login);
    }
    return quoted.join(QLatin1Char(','));
}

} // namespace

// Attaching an abonent to no object is left to the system-wide administrators and operators.
bool Api::abonentObjectAllowed(qint64 objectId)
{
    return objectId > 0 || typeAllowed(UserType::Operator, kNoCompanyBound) ? true : fail(146);
}

bool Api::readAbonentRecord(const QJsonObject& element, AbonentRecord* record)
{
    if (!jsonToInt64(element.value(QStringLiteral("objectId")), &record->objectId)) {
        return fail(146);
    }
    if (!abonentObjectAllowed(record->objectId)) {
        return false;
    }
    record->name = jsonString(element.value(QStringLiteral("name")));
    record->login = jsonString(element.value(QStringLiteral("login")));
    record->pas = jsonString(element.value(QStringLiteral("pas")));
    record->mail = jsonString(element.value(QStringLiteral("mail")));
    record->phone = jsonString(element.value(QStringLiteral("phone")));
    record->status = jsonInteger(element.value(QStringLiteral("status")), 1);
    record->changePas = element.value(QStringLiteral("changePas")).toBool(false);
    if (record->name.isEmpty()) {
        return fail(234);
    }
    return record->login.isEmpty() ? fail(284) : true;
}

bool Api::abonentFilters(QString* conditions)
{
    if (given("AddressId")) {
        const qint64 address = int64Param("AddressId");
        if (address < 0) {
            return fail(59);
        }
        if (address != 0) {
            *conditions += QStringLiteral(" AND (ob.\"AddressId\"=") + QString::number(address) + QLatin1Char(')');
        }
    }
    *conditions += textFilter(QStringLiteral("ab.\"Name\""), "AbonentNameFull", "AbonentName");
    for (const char* column : {"Phone", "Mail", "Login"}) {
        const QByteArray exact = QByteArray(column) + "Full";
        *conditions += textFilter(QStringLiteral("ab.\"") + QLatin1String(column) + QLatin1Char('"'), exact.constData(), column);
    }
    return numberFilter("Id", QStringLiteral("ab.\"Id\""), 216, conditions);
}

bool Api::getAbonentsTable()
{
    qint64 company = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !abonentFilters(&conditions)) {
        return false;
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT ab.\"Id\", ab.\"Name\", ab.\"Phone\", ab.\"Mail\", ab.\"Login\", "
                       "ob.\"Id\" as \"ObjectId\", ob.\"AddressId\", adr.\"Name\" as \"AddressName\", ob.\"Obj\"  "
                       "FROM \"AbonentTable\" ab, \"AddressTable\" adr, \"ObjectTable\" ob WHERE "
                       "(ab.\"Id\"=ob.\"AbonentId\") AND (ob.\"AddressId\"=adr.\"Id\") AND (adr.\"CompanyId\"") +
        companyMatch(company) + QStringLiteral(") ") + conditions + QStringLiteral(" ORDER BY \"Id\" ASC LIMIT 9999;");
    return appendRows(sql, 117, [](const QSqlQuery& query, QJsonObject* object) {
        JsonRow row(query);
        row.id(QStringLiteral("id"), "Id")
            .text(QStringLiteral("name"), "Name")
            .text(QStringLiteral("phone"), "Phone")
            .text(QStringLiteral("mail"), "Mail")
            .text(QStringLiteral("login"), "Login")
            .number(QStringLiteral("addressId"), "AddressId")
            .number(QStringLiteral("objectId"), "ObjectId");
        QString address = columnText(query, "AddressName");
        if (!columnValue(query, "ObjectId").isNull()) {
            address += (address.isEmpty() ? QString() : QStringLiteral(", ")) + columnText(query, "Obj");
        }
        row.value(QStringLiteral("address"), address);
        *object = row.object();
        return row.valid();
    });
}

bool Api::addAbonents()
{
    qint64 company = 0;
    QJsonArray data;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !readDataArray(&data, false)) {
        return false;
    }
    // What the checks need from the database is read at once for all elements, under the
    // login lock, so that a large batch costs two look-ups rather than two per element.
    QStringList logins;
    QList<qint64> objects;
    for (const QJsonValue& element : data) {
        logins << jsonString(element.toObject().value(QStringLiteral("login")));
        qint64 objectId = 0;
        if (jsonToInt64(element.toObject().value(QStringLiteral("objectId")), &objectId) && objectId > 0) {
            objects << objectId;
        }
    }
    LockedWrite write(db(), LockSubject::AbonentLogin);
    QSqlQuery taken = db().newQuery();
    QSet<qint64> companyObjects;
    if (!beginWrite(write) || !select(QStringLiteral("SELECT \"Login\" FROM \"AbonentTable\" WHERE \"Id\">0 AND \"Login\" IN (") +
                                   loginList(logins) + QStringLiteral(");"),
                               &taken, 132) ||
        !objectsInCompany(objects, company, &companyObjects)) {
        return fail(132);
    }
    QSet<QString> usedLogins;
    while (taken.next()) {
        usedLogins.insert(taken.value(0).toString());
    }
    QList<AbonentRecord> records;
    for (const QJsonValue& element : data) {
        AbonentRecord record;
        if (!readAbonentRecord(element.toObject(), &record)) {
            return false;
        }
        if (record.pas.isEmpty()) {
            return fail(218);
        }
        // A login repeated inside the batch is as taken as a stored one.
        if (usedLogins.contains(record.login)) {
            return fail(122);
        }
        usedLogins.insert(record.login);
        if (record.objectId > 0 && !companyObjects.contains(record.objectId)) {
            return fail(190);
        }
        records << record;
    }
    qint64 lastId = 0;
    for (const AbonentRecord& record : records) {
        quint16 code = write.exec(
            QStringLiteral("insert into \"AbonentTable\" (\"Name\", \"Login\", \"PasHash\", \"Mail\", \"Phone\", "
                           "\"Status\") values  (") +
                sqlText(record.name) + QStringLiteral(", ") + sqlText(record.login) + QStringLiteral(", md5(") +
                sqlText(record.pas) + QStringLiteral("), ") + record.mailSql() + QStringLiteral(", ") +
                record.phoneSql() + QStringLiteral(", ") + QString::number(record.status) +
                QStringLiteral(") returning \"Id\";"),
            &lastId);
        if (code == 0 && record.objectId > 0) {
            code = write.exec(QStringLiteral("update \"ObjectTable\" set \"AbonentId\"=") + QString::number(lastId) +
                              QStringLiteral(" where (\"Id\"=") + QString::number(record.objectId) +
                              QStringLiteral(");"));
        }
        if (code != 0) {
            return fail(code);
        }
    }
    return commitBatch(write, records.size(), lastId);
}

bool Api::updAbonent()
{
    qint64 company = 0;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !dataGiven()) {
        return false;
    }
    if (!given("AbonentId")) {
        return fail(124);
    }
    const qint64 abonentId = int64Param("AbonentId");
    QJsonArray data;
    AbonentRecord record;
    if (abonentId < 0) {
        return fail(116);
    }
    if (!readDataArray(&data, true) || !readAbonentRecord(data.first().toObject(), &record)) {
        return false;
    }
    if (record.changePas && record.pas.isEmpty()) {
        return fail(218);
    }
    LockedWrite write(db(), LockSubject::AbonentLogin);
    if (!beginWrite(write) || !mayTouchAbonent(abonentId, Hold::Change, 144)) {
        return false;
    }
    qint64 existing = -1;
    const quint16 lookup =
        db().findRecordId(QStringLiteral("AbonentTable"), QStringLiteral("\"Login\"=") + sqlText(record.login), &existing);
    if (lookup != 0) {
        return fail(lookup);
    }
    if (existing >= 1 && existing != abonentId) {
        return fail(122);
    }
    // The object is checked before anything is written, so that a refused object leaves the
    // abonent as it was.
    if (record.objectId > 0 && !checkObjectInCompany(record.objectId, company)) {
        return false;
    }
    quint16 code = write.exec(
        QStringLiteral("update \"AbonentTable\" set \"Name\"=") + sqlText(record.name) + QStringLiteral(", \"Login\"=") +
        sqlText(record.login) + QStringLiteral(", \"Mail\"=") + record.mailSql() + QStringLiteral(", \"Phone\"=") +
        record.phoneSql() +
        (record.changePas ? QStringLiteral(", \"PasHash\"=md5(") + sqlText(record.pas) + QLatin1Char(')') : QString()) +
        QStringLiteral(", \"Status\"=") + QString::number(record.status) + QStringLiteral(" where (\"Id\"=") +
        QString::number(abonentId) + QStringLiteral(");"));
    if (code == 0 && record.objectId > 0) {
        code = write.exec(QStringLiteral("update \"ObjectTable\" set \"AbonentId\"=") + QString::number(abonentId) +
                          QStringLiteral(" where (\"Id\"=") + QString::number(record.objectId) + QStringLiteral(");"));
    }
    if (code == 0) {
        code = write.commit();
    }
    return finish(code);
}

// A company-bound caller deletes only an abonent who occupies objects of his company and of
// no other. The abonent's row is held, so that no object is linked to him meanwhile.
bool Api::delAbonent()
{
    qint64 company = 0;
    qint64 abonentId = 0;
    bool found = false;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("AbonentId", 124, 116, &abonentId) || !beginWrite(write) ||
        !mayTouchAbonent(abonentId, Hold::Remove, 190, &found)) {
        return false;
    }
    const QString id = QString::number(abonentId);
    if (user().isCompanyBound()) {
        QSqlQuery query = db().newQuery();
        if (!select(QStringLiteral("select o.\"Id\" from \"AddressTable\" a, \"ObjectTable\" o where (o.\"AbonentId\"=") +
                        id + QStringLiteral(") and (a.\"Id\"=o.\"AddressId\") and (a.\"CompanyId\" IS DISTINCT FROM ") +
                        sqlIdOrNull(company) + QStringLiteral(") limit 1;"),
                    &query, 132)) {
            return false;
        }
        if (query.next()) {
            return fail(120);
        }
    }
    quint16 code = write.exec(QStringLiteral("update \"ObjectTable\" set \"AbonentId\"=NULL where (\"AbonentId\"=") + id +
                              QStringLiteral(");"));
    if (code == 0) {
        code = write.execAndCommit(QStringLiteral("delete from \"AbonentTable\" where (\"Id\"=") + id + QStringLiteral(");"));
    }
    return finish(code);
}

} // namespace client
