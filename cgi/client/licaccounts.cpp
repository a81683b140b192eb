// Personal accounts: the billing account of one resource at one object.
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

namespace {

struct LicAccount {
    qint64 objectId = 0;
    qint64 resCode = -1;
    QString name;

    QString valuesRow() const
    {
        return QStringLiteral(" (") + QString::number(objectId) + QStringLiteral(", ") + QString::number(resCode) +
               QStringLiteral(", ") + sqlText(name) + QStringLiteral(") ");
    }
};

// The record's fields; the caller checks them in its own order.
LicAccount readLicAccount(const QJsonObject& element, bool* objectConverts)
{
    LicAccount account;
    *objectConverts = jsonToInt64(element.value(QStringLiteral("objectId")), &account.objectId);
    account.resCode = jsonInteger(element.value(QStringLiteral("resCode")), -1);
    account.name = jsonString(element.value(QStringLiteral("name")));
    return account;
}

} // namespace

bool Api::licAccountRow(const QSqlQuery& query, QJsonObject* object)
{
    bool ok = false;
    const qint64 id = columnNumber(query, "Id", &ok);
    if (!ok) {
        return fail(258);
    }
    const qint64 objectId = columnNumber(query, "ObjectId", &ok);
    if (!ok) {
        return fail(128);
    }
    JsonRow row(query);
    row.value(QStringLiteral("id"), id)
        .value(QStringLiteral("objectId"), objectId)
        .text(QStringLiteral("name"), "Name")
        .number(QStringLiteral("resCode"), "ResCode")
        .text(QStringLiteral("obj"), "Obj");
    if (columnValue(query, "AbonentId").isNull()) {
        row.value(QStringLiteral("abonent"), QString(QLatin1String("")));
    } else {
        const qint64 abonentId = columnNumber(query, "AbonentId");
        row.value(QStringLiteral("abonentId"), abonentId).value(QStringLiteral("abonent"), abonentSummary(abonentId));
    }
    row.value(QStringLiteral("device"), deviceListText(objectId, columnNumber(query, "ResCode")));
    *object = row.object();
    return true;
}

bool Api::getLicAccountTable()
{
    qint64 company = 0;
    qint64 addressId = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !resolveCompanyId(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) ||
        !numberFilter("ResCode", QStringLiteral("l.\"ResCode\""), 239, &conditions, false) ||
        !numberFilter("Id", QStringLiteral("l.\"Id\""), 216, &conditions)) {
        return false;
    }
    const QString sql =
        QStringLiteral("SELECT DISTINCT l.\"Id\", l.\"ResCode\", l.\"ObjectId\", l.\"Name\", o.\"Obj\", o.\"AbonentId\"  "
                       "FROM \"LicAccountTable\" l, \"ObjectTable\" o, \"AddressTable\" a WHERE "
                       "(l.\"ObjectId\"=o.\"Id\") AND (o.\"AddressId\"=") +
        QString::number(addressId) + QStringLiteral(") AND (o.\"AddressId\"=a.\"Id\") AND (a.\"CompanyId\"") +
        companyMatch(company) + QLatin1Char(')') + conditions +
        QStringLiteral(" ORDER BY \"ObjectId\" ASC, \"Id\" ASC LIMIT 10000;");
    QSqlQuery query = db().newQuery();
    if (!select(sql, &query, 132)) {
        return false;
    }
    while (query.next()) {
        QJsonObject row;
        if (!licAccountRow(query, &row)) {
            req().clearResponseData();
            return false;
        }
        req().appendResponseRow(row);
    }
    return succeed();
}

bool Api::addLicAccount()
{
    qint64 company = 0;
    QJsonArray data;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !readDataArray(&data, false)) {
        return false;
    }
    QList<LicAccount> accounts;
    QList<qint64> objects;
    QList<bool> converts;
    for (const QJsonValue& element : data) {
        bool objectConverts = false;
        accounts << readLicAccount(element.toObject(), &objectConverts);
        converts << objectConverts;
        if (objectConverts) {
            objects << accounts.last().objectId;
        }
    }
    // The objects are checked and held in the transaction that writes the accounts: all of
    // them, or none.
    LockedWrite write(db());
    QSet<qint64> companyObjects;
    if (!beginWrite(write) || !objectsInCompany(objects, company, &companyObjects)) {
        return false;
    }
    for (int i = 0; i < accounts.size(); ++i) {
        if (!converts.at(i)) {
            return fail(146);
        }
        if (accounts.at(i).resCode < 0) {
            return fail(239);
        }
        if (accounts.at(i).name.isEmpty()) {
            return fail(234);
        }
        if (!companyObjects.contains(accounts.at(i).objectId)) {
            return fail(190);
        }
    }
    qint64 lastId = 0;
    for (const LicAccount& account : accounts) {
        const quint16 code = write.exec(QStringLiteral("insert into \"LicAccountTable\" (\"ObjectId\", \"ResCode\", "
                                                       "\"Name\") values ") +
                                            account.valuesRow() + QStringLiteral(" returning \"Id\";"),
                                        &lastId);
        if (code != 0) {
            return fail(code);
        }
    }
    return commitBatch(write, accounts.size(), lastId);
}

bool Api::updLicAccount()
{
    qint64 company = 0;
    qint64 id = 0;
    QJsonArray data;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !dataGiven() ||
        !requiredId("Id", 110, 216, &id) || !readDataArray(&data, true)) {
        return false;
    }
    bool objectConverts = false;
    const LicAccount account = readLicAccount(data.first().toObject(), &objectConverts);
    if (account.resCode < 0) {
        return fail(239);
    }
    if (!objectConverts) {
        return fail(146);
    }
    if (account.name.isEmpty()) {
        return fail(234);
    }
    LockedWrite write(db());
    if (!beginWrite(write) || !mayTouchLicAccount(id, Hold::Change, 235) ||
        !checkObjectInCompany(account.objectId, company)) {
        return false;
    }
    return finish(write.execAndCommit(QStringLiteral("update \"LicAccountTable\" set \"ObjectId\"=") +
                                      QString::number(account.objectId) + QStringLiteral(", \"ResCode\"=") +
                                      QString::number(account.resCode) + QStringLiteral(", \"Name\"=") +
                                      sqlText(account.name) + QStringLiteral(" where (\"Id\"=") + QString::number(id) +
                                      QStringLiteral(");")));
}

bool Api::delLicAccount()
{
    qint64 company = 0;
    qint64 id = 0;
    bool found = false;
    LockedWrite write(db());
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("Id", 110, 216, &id) || !beginWrite(write) || !mayTouchLicAccount(id, Hold::Remove, 235, &found)) {
        return false;
    }
    return finish(write.execAndCommit(QStringLiteral("delete from \"LicAccountTable\" where (\"Id\"=") +
                                      QString::number(id) + QStringLiteral(");")));
}

} // namespace client
