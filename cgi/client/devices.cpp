// Metering devices: registration in batches, changes with the current installation, removal
// with everything recorded for the device.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "app/resultcodes.h"
#include "cgi/client/datafields.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QDate>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

#include <climits>

namespace client {

using namespace orvela;

// One element of "DATA" as the device commands read it.
struct Api::DeviceRecord {
    qint64 devType = -1;
    QString manId;
    qint64 identNum = -1;
    qint64 ver = -1;
    QString zavNum;
    qint64 modelId = 0;
    qint64 status = 0;
    qint64 transKoef = 1;
    qint64 objectId = 0;
    QDate dateInstall;

    QString identityKey() const
    {
        return QStringLiteral("%1|%2|%3|%4").arg(devType).arg(manId).arg(identNum).arg(ver);
    }
    QString identityCondition() const
    {
        return QStringLiteral("(\"DevType\"=") + QString::number(devType) + QStringLiteral(") and (\"ManId\"=") +
               sqlText(manId) + QStringLiteral(") and (\"IdentNum\"=") + QString::number(identNum) +
               QStringLiteral(") AND (\"Ver\"=") + QString::number(ver) + QLatin1Char(')');
    }
    QString foundLine() const
    {
        return QObject::tr("\nManId: %1, IdentNum: %2, DevType: %3, Ver: %4.")
            .arg(manId)
            .arg(identNum)
            .arg(devType)
            .arg(ver);
    }
    QString deviceRow() const
    {
        return QStringLiteral(" (") + QString::number(devType) + QStringLiteral(", ") + sqlText(manId) +
               QStringLiteral(", ") + QString::number(identNum) + QStringLiteral(", ") + QString::number(ver) +
               QStringLiteral(", ") + sqlText(zavNum) + QStringLiteral(", ") + QString::number(modelId) +
               QStringLiteral(", ") + QString::number(status) + QStringLiteral(", ") + QString::number(transKoef) +
               QStringLiteral(") ");
    }
    QString dateText() const { return sqlText(dateInstall.toString(QStringLiteral("yyyy-MM-dd"))) + QStringLiteral("::date"); }
};

namespace {

// The radio identity fits the packed M-Bus form: an 8-bit type and version, three letters
// A to Z, and eight BCD digits.
constexpr qint64 kLargestByte = 255;
constexpr qint64 kLargestIdentNum = 99999999;
constexpr int kFirstInstallYear = 2010;

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

} // namespace

bool Api::readDeviceRecord(const QJsonObject& element, bool identityOnly, DeviceRecord* record)
{
    record->devType = jsonInteger(element.value(QStringLiteral("devType")), -1);
    if (record->devType < 0 || record->devType > kLargestByte) {
        return fail(84);
    }
    record->manId = jsonString(element.value(QStringLiteral("manId"))).toUpper();
    if (!isManufacturerCode(record->manId)) {
        return fail(103);
    }
    record->identNum = jsonInteger(element.value(QStringLiteral("identNum")), -1);
    if (record->identNum < 0 || record->identNum > kLargestIdentNum) {
        return fail(216);
    }
    record->ver = jsonInteger(element.value(QStringLiteral("ver")), -1);
    if (record->ver < 0 || record->ver > kLargestByte) {
        return fail(102);
    }
    if (identityOnly) {
        return true;
    }
    record->zavNum = jsonString(element.value(QStringLiteral("zavNum")));
    record->modelId = jsonInteger(element.value(QStringLiteral("modelId")), 0);
    if (record->modelId <= 0 || record->modelId > INT_MAX) {
        return fail(177);
    }
    record->status = jsonInteger(element.value(QStringLiteral("status")), 0);
    record->transKoef = jsonInteger(element.value(QStringLiteral("transKoef")), 1);
    if (!jsonToInt64(element.value(QStringLiteral("objectId")), &record->objectId)) {
        return fail(146);
    }
    // A device outside any object (0, or a negative number) belongs to no company: it is for
    // the system-wide users to keep, or its identity would be blocked for everybody.
    if (record->objectId <= 0 && user().isCompanyBound()) {
        return fail(146);
    }
    if (record->objectId <= 0) {
        return true;
    }
    const QJsonValue date = element.value(QStringLiteral("dateInstall"));
    record->dateInstall = QDate::fromString(date.isUndefined() ? QStringLiteral("2000-01-01") : jsonString(date),
                                            QStringLiteral("yyyy-MM-dd"));
    const int year = record->dateInstall.year();
    if (!record->dateInstall.isValid() || year < kFirstInstallYear || year > req().requestTime().date().year()) {
        return fail(256);
    }
    return true;
}

// The stored devices that have one of the records' identities, by identity; one statement
// for the whole batch.
bool Api::findIdentities(const QList<DeviceRecord>& records, QHash<QString, qint64>* stored)
{
    QStringList tuples;
    for (const DeviceRecord& record : records) {
        tuples << QLatin1Char('(') + QString::number(record.devType) + QLatin1Char(',') + sqlText(record.manId) +
                      QLatin1Char(',') + QString::number(record.identNum) + QLatin1Char(',') +
                      QString::number(record.ver) + QLatin1Char(')');
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT \"Id\", \"DevType\", \"ManId\", \"IdentNum\", \"Ver\" FROM \"DeviceTable\" WHERE "
                               "(\"DevType\", \"ManId\", \"IdentNum\", \"Ver\") IN (") +
                    tuples.join(QLatin1Char(',')) + QStringLiteral(");"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        DeviceRecord found;
        found.devType = query.value(1).toLongLong();
        found.manId = query.value(2).toString();
        found.identNum = query.value(3).toLongLong();
        found.ver = query.value(4).toLongLong();
        stored->insert(found.identityKey(), query.value(0).toLongLong());
    }
    return true;
}

bool Api::addDevices()
{
    qint64 company = 0;
    QJsonArray data;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !readDataArray(&data, false)) {
        return false;
    }
    QList<DeviceRecord> records;
    for (const QJsonValue& element : data) {
        DeviceRecord record;
        if (!readDeviceRecord(element.toObject(), true, &record)) {
            return false;
        }
        records << record;
    }
    // The identities are looked up and written under one lock, so that two batches cannot
    // both register a device.
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    QHash<QString, qint64> stored;
    if (!beginWrite(write) || !findIdentities(records, &stored)) {
        return false;
    }
    QString found;
    QSet<QString> seen;
    for (const DeviceRecord& record : records) {
        // An identity repeated inside the batch is as taken as a stored one.
        if (stored.value(record.identityKey(), -1) > 0 || seen.contains(record.identityKey())) {
            found += record.foundLine();
        }
        seen.insert(record.identityKey());
    }
    if (!found.isEmpty()) {
        req().setResponseText(QObject::tr("Найдены приборы в БД:") + found);
        return fail(151);
    }
    if (!checkDeviceRecords(data, company, &records)) {
        return false;
    }
    qint64 deviceId = 0;
    for (const DeviceRecord& record : records) {
        quint16 code = write.exec(QStringLiteral("insert into \"DeviceTable\" (\"DevType\", \"ManId\", \"IdentNum\", "
                                                 "\"Ver\", \"ZavNum\", \"ModelId\", \"Status\", \"TransKoef\") values ") +
                                      record.deviceRow() + QStringLiteral(" returning \"Id\";"),
                                  &deviceId);
        if (code == 0 && record.objectId > 0) {
            qint64 installId = 0;
            code = write.exec(QStringLiteral("insert into \"InstallTable\" (\"DeviceId\", \"ObjectId\", \"DateInstall\", "
                                             "\"Actual\") values (") +
                                  QString::number(deviceId) + QStringLiteral(", ") + QString::number(record.objectId) +
                                  QStringLiteral(", ") + record.dateText() + QStringLiteral(", 1)  returning \"Id\";"),
                              &installId);
        }
        if (code != 0) {
            return fail(code);
        }
    }
    return commitBatch(write, records.size(), deviceId);
}

// Every element's keys in order, then its model (313) and its object (190). The models and
// objects are read, and held until the batch is written, in one statement each.
bool Api::checkDeviceRecords(const QJsonArray& data, qint64 company, QList<DeviceRecord>* records)
{
    QList<qint64> objects;
    QStringList models;
    for (const QJsonValue& element : data) {
        qint64 objectId = 0;
        if (jsonToInt64(element.toObject().value(QStringLiteral("objectId")), &objectId) && objectId > 0) {
            objects << objectId;
        }
        models << QString::number(jsonInteger(element.toObject().value(QStringLiteral("modelId")), 0));
    }
    QSet<qint64> companyObjects;
    QSet<qint64> knownModels;
    QSqlQuery query = db().newQuery();
    if (!objectsInCompany(objects, company, &companyObjects) ||
        !select(QStringLiteral("SELECT m.\"Id\" FROM \"ModelTable\" m WHERE m.\"Id\" IN (") +
                    models.join(QLatin1Char(',')) + QStringLiteral(") FOR KEY SHARE OF m;"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        knownModels.insert(query.value(0).toLongLong());
    }
    for (int i = 0; i < records->size(); ++i) {
        DeviceRecord& record = (*records)[i];
        if (!readDeviceRecord(data.at(i).toObject(), false, &record)) {
            return false;
        }
        if (!knownModels.contains(record.modelId)) {
            return fail(313);
        }
        if (record.objectId > 0 && !companyObjects.contains(record.objectId)) {
            return fail(190);
        }
    }
    return true;
}

// The current installation follows the record: created, corrected in place, or left alone
// when the record names no object.
quint16 Api::updateInstallation(qint64 deviceId, const DeviceRecord& record, LockedWrite& write)
{
    if (record.objectId <= 0) {
        return 0;
    }
    QSqlQuery query = db().newQuery();
    if (!db().select(QStringLiteral("select \"Id\", \"ObjectId\", \"DateInstall\" from \"InstallTable\" where "
                                    "(\"DeviceId\"=") +
                         QString::number(deviceId) + QStringLiteral(") and (\"Actual\"=1) limit 1;"),
                     &query)) {
        return 132;
    }
    if (!query.next()) {
        return write.exec(QStringLiteral("insert into \"InstallTable\" (\"DeviceId\", \"ObjectId\", \"DateInstall\", "
                                         "\"Actual\") values (") +
                          QString::number(deviceId) + QStringLiteral(", ") + QString::number(record.objectId) +
                          QStringLiteral(", ") + record.dateText() + QStringLiteral(", 1); "));
    }
    if (query.value(1).toLongLong() == record.objectId && query.value(2).toDate() == record.dateInstall) {
        return 0;
    }
    return write.exec(QStringLiteral("update \"InstallTable\" set \"ObjectId\"=") + QString::number(record.objectId) +
                      QStringLiteral(", \"DateInstall\"=") + record.dateText() + QStringLiteral(" where \"Id\"=") +
                      query.value(0).toString() + QLatin1Char(';'));
}

bool Api::updDevice()
{
    qint64 company = 0;
    qint64 deviceId = 0;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !dataGiven() ||
        !requiredId("DeviceId", 110, 216, &deviceId)) {
        return false;
    }
    QJsonArray data;
    DeviceRecord record;
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    if (!readDataArray(&data, true) || !readDeviceRecord(data.first().toObject(), false, &record) ||
        !beginWrite(write) || !mayTouchDevice(deviceId, Hold::Change, sameRefusals(246, 190))) {
        return false;
    }
    qint64 other = -1;
    const quint16 lookup = db().findRecordId(QStringLiteral("DeviceTable"), record.identityCondition(), &other);
    if (lookup != 0) {
        return fail(lookup);
    }
    if (other > 0 && other != deviceId) {
        return fail(151);
    }
    // The model and the object are checked before anything is written, so that a refusal
    // changes nothing.
    if (!recordExists("ModelTable", record.modelId, Hold::Link, 313) ||
        (record.objectId > 0 && !checkObjectInCompany(record.objectId, company))) {
        return false;
    }
    quint16 code = write.exec(
        QStringLiteral("update \"DeviceTable\" set \"DevType\"=") + QString::number(record.devType) +
        QStringLiteral(", \"ManId\"=") + sqlText(record.manId) + QStringLiteral(", \"IdentNum\"=") +
        QString::number(record.identNum) + QStringLiteral(", \"Ver\"=") + QString::number(record.ver) +
        QStringLiteral(", \"ZavNum\"=") + sqlText(record.zavNum) + QStringLiteral(", \"ModelId\"=") +
        QString::number(record.modelId) + QStringLiteral(", \"Status\"=") + QString::number(record.status) +
        QStringLiteral(", \"TransKoef\"=") + QString::number(record.transKoef) + QStringLiteral(" where (\"Id\"=") +
        QString::number(deviceId) + QStringLiteral(");"));
    if (code == 0) {
        code = updateInstallation(deviceId, record, write);
    }
    if (code == 0) {
        code = write.commit();
    }
    return finish(code);
}

// Archive and technical rows of the next year down to four years back; a failure here is
// only logged, the device itself is already gone.
void Api::deleteYearlyRows(qint64 deviceId)
{
    const int year = req().requestTime().date().year();
    for (int y = year + 1; y >= year - 4; --y) {
        for (const char* prefix : {"ArchiveTable", "TechnicalTable"}) {
            const QString table = QString::fromLatin1(prefix) + QString::number(y);
            quint16 code = 0;
            if (!db().tableExists(table, &code)) {
                if (code != 0) {
                    req().logError(resultCodeText(code));
                }
                continue;
            }
            code = db().execInTransaction(QStringLiteral("delete from \"") + table +
                                          QStringLiteral("\" where (\"DeviceId\"=") + QString::number(deviceId) +
                                          QStringLiteral(");"));
            if (code != 0) {
                req().logError(resultCodeText(code));
            }
        }
    }
}

bool Api::delDevice()
{
    qint64 company = 0;
    qint64 deviceId = 0;
    bool found = false;
    // The lock of group changes comes first, as there: a device on a group is deleted before or
    // after a change of the group, never with the two waiting for each other's rows.
    LockedWrite write(db(), LockSubject::DeviceIdentity); // before the device row
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("Id", 110, 216, &deviceId) || !beginWrite(write) ||
        !mayTouchDevice(deviceId, Hold::Remove, sameRefusals(0, 190), &found)) {
        return false;
    }
    // The device and its own rows go together, or not at all; its row is held, so that a
    // task queued meanwhile is either deleted with it or finds the device gone.
    const QString id = QString::number(deviceId);
    const QStringList statements = {
        QStringLiteral("delete from \"DeviceTable\" where (\"Id\"=") + id + QStringLiteral(");"),
        QStringLiteral("delete from \"InstallTable\" where (\"DeviceId\"=") + id + QStringLiteral(");"),
        QStringLiteral("delete from \"PoverkaTable\" where (\"DeviceId\"=") + id + QStringLiteral(");"),
        QStringLiteral("delete from \"TaskTable\" where (\"DeviceId\"=") + id + QStringLiteral(");"),
        // The meters of a concentrator or hub that goes become standalone devices.
        QStringLiteral("update \"DeviceTable\" d set \"ConnectType\"=0 where d.\"Id\" IN (SELECT \"DeviceId\" FROM "
                       "\"ConcTable\" WHERE \"MasterId\"=") +
            id + QStringLiteral(") AND NOT EXISTS (SELECT 1 FROM \"ConcTable\" c WHERE (c.\"DeviceId\"=d.\"Id\") AND "
                                "(c.\"MasterId\" IS DISTINCT FROM ") +
            id + QStringLiteral("));"),
        QStringLiteral("delete from \"ConcTable\" where (\"DeviceId\"=") + id + QStringLiteral(") OR (\"MasterId\"=") +
            id + QStringLiteral(");")};
    for (const QString& sql : statements) {
        const quint16 code = write.exec(sql);
        if (code != 0) {
            return fail(code);
        }
    }
    const quint16 code = write.commit();
    if (code != 0) {
        return fail(code);
    }
    deleteYearlyRows(deviceId);
    return succeed();
}

} // namespace client
