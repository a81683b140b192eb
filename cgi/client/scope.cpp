// Scope: whether the caller may touch a record, one rule per kind of record. A global caller
// (types 1 to 4) reaches every record; a company-bound caller only his company's, and an
// account bound to no company only records of no company. Every rule reads the record inside
// the command's transaction and can lock it there, so that a check and the write it guards
// see the same database.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "db/database.h"

#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

QString holdClause(Hold hold, const char* alias)
{
    switch (hold) {
    case Hold::Link:
        return QStringLiteral(" FOR KEY SHARE OF ") + QLatin1String(alias);
    case Hold::Change:
        return QStringLiteral(" FOR NO KEY UPDATE OF ") + QLatin1String(alias);
    case Hold::Remove:
        return QStringLiteral(" FOR UPDATE OF ") + QLatin1String(alias);
    case Hold::None:
        break;
    }
    return QString();
}

QString idText(qint64 id)
{
    return QString::number(id);
}

} // namespace

// Reads the first column of the record's row (its company, or a flag); a missing row is
// refused with the caller's missing code, or reported through *found when that code is 0.
bool Api::readOwner(const QString& sql, const Refusals& refusals, QVariant* owner, bool* found)
{
    QSqlQuery query = db().newQuery();
    if (!select(sql, &query, 132)) {
        return false;
    }
    *found = query.next();
    if (*found) {
        *owner = query.value(0);
        return true;
    }
    const quint16 missing = user().isCompanyBound() ? refusals.missingCompanyBound : refusals.missing;
    return missing == 0 ? true : fail(missing);
}

bool Api::ownerAllowed(const QVariant& owner, const Refusals& refusals)
{
    if (!user().isCompanyBound()) {
        return true;
    }
    const qint64 company = owner.isNull() ? 0 : owner.toLongLong();
    if (company == user().companyId) {
        return true;
    }
    return fail(company == 0 ? refusals.noCompany : refusals.otherCompany);
}

bool Api::mayTouchAccount(qint64 userId, Hold hold, int* type)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT u.\"UserType\", u.\"CompanyId\" FROM \"UserTable\" u WHERE (u.\"Id\"=") +
                    idText(userId) + QLatin1Char(')') + holdClause(hold, "u") + QLatin1Char(';'),
                &query, 138)) {
        return false;
    }
    if (!query.next()) {
        return fail(275);
    }
    *type = query.value(0).toInt();
    return ownerAllowed(query.value(1), sameRefusals(275, 143));
}

bool Api::mayTouchCompany(qint64 companyId, Hold hold)
{
    if (companyId <= 0) {
        return true;
    }
    if (user().isCompanyBound() && companyId != user().companyId) {
        return fail(143);
    }
    return recordExists("CompanyTable", companyId, hold, 235);
}

bool Api::recordExists(const char* table, qint64 id, Hold hold, quint16 missing, bool* found)
{
    QVariant ignored;
    bool exists = false;
    const QString sql = QStringLiteral("SELECT t.\"Id\" FROM \"") + QLatin1String(table) +
                        QStringLiteral("\" t WHERE (t.\"Id\"=") + idText(id) + QLatin1Char(')') +
                        holdClause(hold, "t") + QLatin1Char(';');
    if (!readOwner(sql, Refusals{missing, missing, 0, 0}, &ignored, &exists)) {
        return false;
    }
    if (found) {
        *found = exists;
    }
    return true;
}

// Records that belong to the company a statement reads (one row, one column, NULL for none).
bool Api::mayTouchOwned(const QString& sql, const Refusals& refusals, bool* found)
{
    QVariant owner;
    bool exists = false;
    if (!readOwner(sql, refusals, &owner, &exists)) {
        return false;
    }
    if (found) {
        *found = exists;
    }
    return !exists || ownerAllowed(owner, refusals);
}

bool Api::mayTouchAddress(qint64 addressId, Hold hold, const Refusals& refusals, bool* found)
{
    return mayTouchOwned(QStringLiteral("SELECT a.\"CompanyId\" FROM \"AddressTable\" a WHERE (a.\"Id\"=") +
                             idText(addressId) + QLatin1Char(')') + holdClause(hold, "a") + QLatin1Char(';'),
                         refusals, found);
}

// An object belongs to the company of its address.
bool Api::mayTouchObject(qint64 objectId, Hold hold, const Refusals& refusals, bool* found)
{
    return mayTouchOwned(QStringLiteral("SELECT a.\"CompanyId\" FROM \"ObjectTable\" o LEFT JOIN \"AddressTable\" a ON "
                                        "(a.\"Id\"=o.\"AddressId\") WHERE (o.\"Id\"=") +
                             idText(objectId) + QLatin1Char(')') + holdClause(hold, "o") + QLatin1Char(';'),
                         refusals, found);
}

// Abonents have no company of their own: one is his company's while he occupies one of its
// objects, and another company's abonent is refused as if he did not exist.
bool Api::mayTouchAbonent(qint64 abonentId, Hold hold, quint16 refusal, bool* found)
{
    QVariant occupies;
    bool exists = false;
    const QString sql =
        QStringLiteral("SELECT EXISTS(SELECT 1 FROM \"ObjectTable\" o, \"AddressTable\" a WHERE "
                       "(o.\"AbonentId\"=ab.\"Id\") AND (a.\"Id\"=o.\"AddressId\") AND (a.\"CompanyId\"") +
        companyMatch(user().companyId) + QStringLiteral(")) FROM \"AbonentTable\" ab WHERE (ab.\"Id\"=") +
        idText(abonentId) + QLatin1Char(')') + holdClause(hold, "ab") + QLatin1Char(';');
    if (!readOwner(sql, sameRefusals(found ? 0 : refusal, refusal), &occupies, &exists)) {
        return false;
    }
    if (found) {
        *found = exists;
    }
    return !exists || !user().isCompanyBound() || occupies.toBool() ? true : fail(refusal);
}

// A personal account belongs to the company of its object's address.
bool Api::mayTouchLicAccount(qint64 accountId, Hold hold, quint16 refusal, bool* found)
{
    return mayTouchOwned(QStringLiteral("SELECT a.\"CompanyId\" FROM \"LicAccountTable\" l LEFT JOIN \"ObjectTable\" o ON "
                                        "(o.\"Id\"=l.\"ObjectId\") LEFT JOIN \"AddressTable\" a ON "
                                        "(a.\"Id\"=o.\"AddressId\") WHERE (l.\"Id\"=") +
                             idText(accountId) + QLatin1Char(')') + holdClause(hold, "l") + QLatin1Char(';'),
                         sameRefusals(found ? 0 : refusal, refusal), found);
}

// A device belongs to the company where it is installed now; a device in no object belongs
// to no company and only global callers reach it.
bool Api::mayTouchDevice(qint64 deviceId, Hold hold, const Refusals& refusals, bool* found)
{
    QVariant installedHere;
    bool exists = false;
    const QString sql =
        QStringLiteral("SELECT EXISTS(SELECT 1 FROM \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a WHERE "
                       "(i.\"DeviceId\"=d.\"Id\") AND (i.\"Actual\"=1) AND (o.\"Id\"=i.\"ObjectId\") AND "
                       "(a.\"Id\"=o.\"AddressId\") AND (a.\"CompanyId\"") +
        companyMatch(user().companyId) + QStringLiteral(")) FROM \"DeviceTable\" d WHERE (d.\"Id\"=") +
        idText(deviceId) + QLatin1Char(')') + holdClause(hold, "d") + QLatin1Char(';');
    if (!readOwner(sql, refusals, &installedHere, &exists)) {
        return false;
    }
    if (found) {
        *found = exists;
    }
    if (!exists || !user().isCompanyBound()) {
        return true;
    }
    return installedHere.toBool() ? true : fail(refusals.otherCompany);
}

// The company here is the one the command acts for, which a global caller names with
// "CompanyId"; so an object of another company is "not found" whoever asks.
bool Api::checkObjectInCompany(qint64 objectId, qint64 companyId, Hold hold)
{
    QSqlQuery query = db().newQuery();
    const QString sql = QStringLiteral("select a.\"Id\" from \"AddressTable\" a, \"ObjectTable\" o "
                                       "where (a.\"CompanyId\"") +
                        companyMatch(companyId) +
                        QStringLiteral(") and (a.\"Id\"=o.\"AddressId\") and (o.\"Id\"=") + idText(objectId) +
                        QStringLiteral(") limit 1") + holdClause(hold, "o") + QLatin1Char(';');
    if (!select(sql, &query, 132)) {
        return false;
    }
    return query.next() ? true : fail(190);
}

bool Api::objectsInCompany(const QList<qint64>& objectIds, qint64 companyId, QSet<qint64>* found)
{
    found->clear();
    if (objectIds.isEmpty()) {
        return true;
    }
    QStringList ids;
    for (const qint64 id : objectIds) {
        ids << idText(id);
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("select o.\"Id\" from \"AddressTable\" a, \"ObjectTable\" o where "
                               "(a.\"CompanyId\"") +
                    companyMatch(companyId) + QStringLiteral(") and (a.\"Id\"=o.\"AddressId\") and (o.\"Id\" in (") +
                    ids.join(QLatin1Char(',')) + QStringLiteral("))") + holdClause(Hold::Link, "o") +
                    QLatin1Char(';'),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        found->insert(query.value(0).toLongLong());
    }
    return true;
}

} // namespace client
