// Concentrators: a master device with numbered inputs, each carrying a meter. Every change of
// a concentrator is written in one transaction, all or nothing.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/channelmeter.h"
#include "cgi/client/datafields.h"
#include "cgi/client/devicetexts.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"
#include "readings/vocabulary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

const ChannelRules kMirelChannels{"objId", false, true};

QString statusText(qint64 status)
{
    switch (status) {
    case 0:
        return QObject::tr("Действующее устройство");
    case 1:
        return QObject::tr("Недействующее устройство");
    default:
        return hexCode(status, 4) + QObject::tr(" - Неизвестно");
    }
}

QString dateOf(const QSqlQuery& query, const char* column)
{
    return columnText(query, column).left(10);
}

} // namespace

// The meter on one channel row, with where it is installed; 27 when it is not installed.
bool Api::mirelChannel(const QSqlQuery& row, QJsonObject* channel)
{
    const QString deviceId = QString::number(columnNumber(row, "DeviceId"));
    QSqlQuery meter = db().newQuery();
    if (!select(QStringLiteral("select d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", d.\"ModelId\", m.\"Name\" "
                               "AS \"ModelName\", m.\"ManufId\", p.\"Name\" AS \"ManufName\", d.\"TransKoef\", i.\"ObjectId\", "
                               "o.\"Obj\", o.\"ObjType\", o.\"AbonentId\", o.\"AddressId\", a.\"Name\" as \"AddressName\", "
                               "i.\"DateInstall\"::text AS \"DateInstall\", m.\"ResCode\" from \"DeviceTable\" d, \"ModelTable\" m, "
                               "\"ManufTable\" p, \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a where (d.\"Id\"=") +
                    deviceId +
                    QStringLiteral(") and (d.\"ModelId\"=m.\"Id\") and (m.\"ManufId\"=p.\"Id\") and (d.\"Id\"=i.\"DeviceId\") and "
                                   "(i.\"Actual\"=1) and (i.\"ObjectId\"=o.\"Id\") and (o.\"AddressId\"=a.\"Id\") limit 1;"),
                &meter, 132)) {
        return false;
    }
    if (!meter.next()) {
        req().logError(QStringLiteral("DeviceId > ") + deviceId);
        return fail(27);
    }
    JsonRow object(meter);
    object.value(QStringLiteral("channel"), columnNumber(row, "Channel"))
        .value(QStringLiteral("data"), columnObject(row, "JsonData"))
        .value(QStringLiteral("deviceId"), columnNumber(row, "DeviceId"))
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("ver"), "Ver")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("manufName"), "ManufName")
        .number(QStringLiteral("modelId"), "ModelId")
        .text(QStringLiteral("modelName"), "ModelName")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("addressId"), "AddressId")
        .text(QStringLiteral("addressName"), "AddressName")
        .number(QStringLiteral("transKoef"), "TransKoef")
        .number(QStringLiteral("objId"), "ObjectId")
        .text(QStringLiteral("obj"), "Obj")
        .number(QStringLiteral("objType"), "ObjType")
        .value(QStringLiteral("dateInstall"), dateOf(meter, "DateInstall"));
    if (!columnValue(meter, "ResCode").isNull()) {
        object.number(QStringLiteral("resCode"), "ResCode");
    }
    if (!columnValue(meter, "AbonentId").isNull()) {
        const qint64 abonentId = columnNumber(meter, "AbonentId");
        object.value(QStringLiteral("abonentId"), abonentId).value(QStringLiteral("abonentName"), abonentSummary(abonentId));
    }
    *channel = object.object();
    return true;
}

QJsonObject Api::mirelMaster(const QSqlQuery& row)
{
    JsonRow master(row);
    master.number(QStringLiteral("id"), "Id")
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("ver"), "Ver")
        .number(QStringLiteral("devType"), "DevType")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("manufId"), "ManufId")
        .text(QStringLiteral("manufName"), "ManufName")
        .number(QStringLiteral("modelId"), "ModelId")
        .text(QStringLiteral("modelName"), "ModelName")
        .value(QStringLiteral("status"), statusText(columnNumber(row, "Status")))
        .value(QStringLiteral("dateProizv"), dateOf(row, "DateProizv"))
        .value(QStringLiteral("poverka"), poverkaText(columnNumber(row, "Id")))
        .text(QStringLiteral("note"), "Note")
        .value(QStringLiteral("channels"), QJsonArray());
    return master.object();
}

bool Api::mirelConditions(QString* conditions)
{
    qint64 company = 0;
    qint64 addressId = 0;
    if (!resolveCompanyId(&company) || !requiredId("AddressId", 76, 59, &addressId)) {
        return false;
    }
    *conditions = QStringLiteral("(a.\"CompanyId\"") + companyMatch(company) + QStringLiteral(") AND (a.\"Id\"=") +
                  QString::number(addressId) + QLatin1Char(')') + textFilter(QStringLiteral("o.\"Obj\""), "ObjFull", "Obj");
    return numberFilter("Id", QStringLiteral("d.\"Id\""), 216, conditions) &&
           numberFilter("ObjType", QStringLiteral("o.\"ObjType\""), 220, conditions, false) && deviceConditions(conditions);
}

bool Api::getMirelTable()
{
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyUser) || !mirelConditions(&conditions)) {
        return false;
    }
    QSqlQuery rows = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", "
                               "d.\"DateProizv\"::text AS \"DateProizv\", d.\"ModelId\", d.\"Status\", d.\"Note\", c.\"DeviceId\", "
                               "c.\"Channel\", c.\"JsonData\"::varchar AS \"JsonData\", m.\"Name\" AS \"ModelName\", "
                               "m.\"PovInterval\", m.\"ManufId\", p.\"Name\" AS \"ManufName\" FROM \"DeviceTable\" d, \"ConcTable\" c, "
                               "\"ModelTable\" m, \"ManufTable\" p, \"InstallTable\" i, \"ObjectTable\" o, \"AddressTable\" a "
                               " WHERE (d.\"ConnectType\" = 1) AND (d.\"ModelId\"=m.\"Id\") AND (m.\"ManufId\"=p.\"Id\")  AND "
                               "(c.\"DeviceId\"=i.\"DeviceId\") AND (i.\"Actual\"=1) AND (i.\"ObjectId\"=o.\"Id\") AND "
                               "(o.\"AddressId\"=a.\"Id\") AND (d.\"Id\"=c.\"MasterId\") AND ") +
                    conditions + QStringLiteral(" ORDER BY \"Id\" ASC, \"Channel\" ASC LIMIT 10000;"),
                &rows, 132)) {
        return false;
    }
    QJsonArray masters;
    while (rows.next()) {
        QJsonObject channel;
        if (!mirelChannel(rows, &channel)) {
            return false;
        }
        const qint64 id = columnNumber(rows, "Id");
        if (masters.isEmpty() || masters.last().toObject().value(QStringLiteral("id")).toVariant().toLongLong() != id) {
            masters.append(mirelMaster(rows));
        }
        QJsonObject master = masters.last().toObject();
        QJsonArray channels = master.value(QStringLiteral("channels")).toArray();
        channels.append(channel);
        master.insert(QStringLiteral("channels"), channels);
        masters.replace(masters.size() - 1, master);
    }
    for (const QJsonValue& master : masters) {
        req().appendResponseRow(master);
    }
    return succeed();
}

// The concentrator and its channel meters as the request describes them, checked whole:
// identities free, models present, objects of the company.
bool Api::readMirel(qint64 company, qint64 ownId, const QList<GroupChannel>& current, GroupDevice* master,
                    QList<ChannelMeter>* meters)
{
    QJsonObject content;
    if (!groupContent(&content)) {
        return false;
    }
    const quint16 identity = readConcentratorIdentity(content, master);
    if (identity != 0) {
        return fail(identity);
    }
    if (!readChannels(content.value(QStringLiteral("channels")), kMirelChannels, false, meters)) {
        return false;
    }
    req().logDebug(QObject::tr("Проверка наличия устройств в БД"));
    QList<const GroupDevice*> devices{master};
    QList<qint64> models{master->modelId};
    // A meter keeps its own identity; a new one takes none that another device has, not even
    // one of a meter leaving the concentrator, which stays as a standalone device.
    QList<qint64> ownIds{ownId};
    Q_UNUSED(current);
    for (const ChannelMeter& meter : *meters) {
        devices << &meter;
        models << meter.modelId;
        // The meters of a new concentrator are all new: a "deviceId" there owns no identity.
        ownIds << (ownId == 0 ? 0 : meter.deviceId);
    }
    if (!identitiesAreFree(devices, ownIds) || !modelsExist(models)) {
        return false;
    }
    req().logDebug(QObject::tr("Проверка принадлежности объекта адресу организации."));
    for (const ChannelMeter& meter : *meters) {
        if (!meterObjectAllowed(meter.objectId, company, true)) {
            return false;
        }
    }
    return true;
}

quint16 Api::insertChannelMeter(LockedWrite& write, const ChannelMeter& meter, qint64* id)
{
    req().logDebug(QObject::tr("Добавление в БД прибора на канале ") + QString::number(meter.channel));
    quint16 code = insertGroupDevice(write, meter, QStringLiteral(", \"TransKoef\", \"Note\", \"ConnectType\""),
                                     QStringLiteral(", ") + QString::number(meter.transKoef) + QStringLiteral(", ") +
                                         sqlText(meter.note) + QStringLiteral(", 2"),
                                     id);
    return code == 0 ? installMeter(write, *id, meter.objectId, meter.dateInstall) : code;
}

bool Api::addMirel()
{
    qint64 company = 0;
    GroupDevice master;
    QList<ChannelMeter> meters;
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !beginWrite(write) ||
        !readMirel(company, 0, {}, &master, &meters)) {
        return false;
    }
    req().logDebug(QObject::tr("Добавление СИ в БД"));
    qint64 masterId = 0;
    quint16 code = insertGroupDevice(write, master, QStringLiteral(", \"ConnectType\", \"DateProizv\""),
                                     QStringLiteral(", 1, ") + mirelProduced(), &masterId);
    QStringList tuples;
    for (const ChannelMeter& meter : meters) {
        qint64 meterId = 0;
        if (code == 0) {
            code = insertChannelMeter(write, meter, &meterId);
        }
        tuples << QStringLiteral("(") + QString::number(masterId) + QStringLiteral(", ") + QString::number(meterId) +
                      QStringLiteral(", ") + QString::number(meter.channel) + QStringLiteral(", ") +
                      sqlText(meter.channelData()) + QStringLiteral("::json)");
    }
    if (code == 0) {
        code = write.execAndCommit(QStringLiteral("insert into \"ConcTable\" (\"MasterId\", \"DeviceId\", \"Channel\", \"JsonData\") "
                                                  "values") +
                                   tuples.join(QStringLiteral(", ")));
    }
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(masterId);
    return succeed();
}

// "dateProizv" of the content as a date value, or NULL.
QString Api::mirelProduced()
{
    const QDate date = QDate::fromString(req().jsonParameters().value(QStringLiteral("dateProizv")).toString(),
                                         QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? sqlText(date.toString(QStringLiteral("yyyy-MM-dd"))) + QStringLiteral("::date") : QStringLiteral("NULL");
}

// A channel meter of a change: a new one is added, an existing one rewritten with its
// installation moved; then its channel row is rewritten or added.
quint16 Api::applyMirelChannel(LockedWrite& write, qint64 masterId, const QList<GroupChannel>& current,
                               const ChannelMeter& meter)
{
    req().logDebug(QObject::tr("Применение изменений для прибора на канале ") + QString::number(meter.channel));
    qint64 meterId = meter.deviceId;
    quint16 code = meterId > 0 ? updateChannelMeter(write, meter) : insertChannelMeter(write, meter, &meterId);
    if (code != 0) {
        return code;
    }
    for (const GroupChannel& row : current) {
        if (row.channel == meter.channel) {
            req().logDebug(QObject::tr("Изменение записи в ConcTable."));
            return write.exec(QStringLiteral("update \"ConcTable\" set \"DeviceId\"=") + QString::number(meterId) +
                              QStringLiteral(", \"Channel\"=") + QString::number(meter.channel) + QStringLiteral(", \"JsonData\" = ") +
                              sqlText(meter.channelData()) + QStringLiteral("::json where (\"Id\"=") +
                              QString::number(row.rowId) + QLatin1Char(')'));
        }
    }
    req().logDebug(QObject::tr("Добавление записи в ConcTable."));
    return write.exec(QStringLiteral("insert into \"ConcTable\" (\"MasterId\", \"DeviceId\", \"Channel\", \"JsonData\") values (") +
                      QString::number(masterId) + QStringLiteral(", ") + QString::number(meterId) + QStringLiteral(", ") +
                      QString::number(meter.channel) + QStringLiteral(", ") + sqlText(meter.channelData()) +
                      QStringLiteral("::json ) ;"));
}

quint16 Api::updateChannelMeter(LockedWrite& write, const ChannelMeter& meter)
{
    const quint16 code = write.exec(
        QStringLiteral("update \"DeviceTable\" set \"ManId\"=") + sqlText(meter.manId) + QStringLiteral(", \"IdentNum\"=") +
        QString::number(meter.identNum) + QStringLiteral(", \"Ver\"=") + QString::number(meter.ver) +
        QStringLiteral(", \"DevType\"=") + QString::number(meter.devType) + QStringLiteral(", \"ZavNum\"=") + sqlText(meter.zavNum) +
        QStringLiteral(", \"ModelId\"=") + QString::number(meter.modelId) + QStringLiteral(", \"TransKoef\"=") +
        QString::number(meter.transKoef) + QStringLiteral(", \"Note\"=") + sqlText(meter.note) +
        QStringLiteral(", \"ConnectType\"=2 where (\"Id\"=") + QString::number(meter.deviceId) + QLatin1Char(')'));
    if (code != 0) {
        return code;
    }
    req().logDebug(QObject::tr("Изменение таблицы установки для прибора."));
    return moveInstallation(write, meter.deviceId, meter.objectId, meter.dateInstall);
}

// The meters a change names by their id exist and, for a company-bound caller, are his (27
// and 246). Each is named once and is a meter of this concentrator or of no group: a master,
// or a meter on a channel of another group, would end up on two groups (151).
bool Api::namedMetersAllowed(qint64 masterId, const QList<ChannelMeter>& meters)
{
    QList<qint64> named;
    for (const ChannelMeter& meter : meters) {
        if (meter.deviceId == 0) {
            continue;
        }
        if (!mayTouchDevice(meter.deviceId, Hold::Change, Refusals{27, 27, 246, 246})) {
            req().logError(QStringLiteral("DeviceId > ") + QString::number(meter.deviceId));
            return false;
        }
        if (named.contains(meter.deviceId)) {
            return fail(151);
        }
        named << meter.deviceId;
    }
    if (named.isEmpty()) {
        return true;
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT d.\"Id\" FROM \"DeviceTable\" d WHERE (d.\"Id\" = ANY(") + sqlIdArray(named) +
                    QStringLiteral(")) AND ((d.\"ConnectType\"=1) OR EXISTS (SELECT 1 FROM \"ConcTable\" c WHERE "
                                   "(c.\"MasterId\"=d.\"Id\") OR ((c.\"DeviceId\"=d.\"Id\") AND "
                                   "(c.\"MasterId\" IS DISTINCT FROM ") +
                    QString::number(masterId) + QStringLiteral(")))) LIMIT 1;"),
                &query, 132)) {
        return false;
    }
    if (query.next()) {
        req().logError(QStringLiteral("DeviceId > ") + query.value(0).toString());
        return fail(151);
    }
    return true;
}

bool Api::updMirel()
{
    qint64 company = 0;
    GroupDevice master;
    QList<ChannelMeter> meters;
    QList<GroupChannel> current;
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !beginWrite(write)) {
        return false;
    }
    qint64 masterId = -1;
    if (!jsonToInt64(req().jsonParameters().value(QStringLiteral("id")), &masterId) || masterId < 0) {
        return fail(216);
    }
    req().logDebug(QObject::tr("Чтение текущих каналов СИ."));
    if (!isMaster(masterId) ||
        !groupChannels(QStringLiteral("\"MasterId\"=") + QString::number(masterId), &current) ||
        !groupInCompany(meterIdsOf(current)) || !readMirel(company, masterId, current, &master, &meters) ||
        !namedMetersAllowed(masterId, meters)) {
        return false;
    }
    req().logDebug(QObject::tr("Применение изменений устройства СИ."));
    quint16 code = write.exec(QStringLiteral("update \"DeviceTable\" set \"ManId\"=") + sqlText(master.manId) +
                              QStringLiteral(", \"IdentNum\"=") + QString::number(master.identNum) + QStringLiteral(", \"Ver\"=") +
                              QString::number(master.ver) + QStringLiteral(", \"DevType\"=") + QString::number(master.devType) +
                              QStringLiteral(", \"ZavNum\"=") + sqlText(master.zavNum) + QStringLiteral(", \"DateProizv\"=") +
                              mirelProduced() + QStringLiteral(", \"ModelId\"=") + QString::number(master.modelId) +
                              QStringLiteral(", \"ConnectType\"=1 where (\"Id\"=") + QString::number(masterId) + QLatin1Char(')'));
    QSet<qint64> kept;
    for (const ChannelMeter& meter : meters) {
        kept.insert(meter.channel);
        if (code == 0) {
            code = applyMirelChannel(write, masterId, current, meter);
        }
    }
    req().logDebug(QObject::tr("Проверка и удаление незадействованых записей в ConcTable."));
    if (code == 0) {
        code = dropUnusedChannels(write, current, kept);
    }
    return finish(code == 0 ? write.commit() : code);
}

// The device a group change names must be a concentrator or hub (246), held until the change
// is written.
bool Api::isMaster(qint64 deviceId)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT d.\"Id\" FROM \"DeviceTable\" d WHERE (d.\"Id\"=") + QString::number(deviceId) +
                    QStringLiteral(") AND (d.\"ConnectType\"=1) FOR NO KEY UPDATE OF d;"),
                &query, 132)) {
        return false;
    }
    return query.next() ? true : fail(246);
}

// The concentrator goes with its channel rows; its meters stay, as standalone devices, with
// their installations and readings. The lock is the one every change of a group takes first,
// so that a change in progress ends before the channels are read (all of them are then seen)
// and the two never wait for each other's rows.
bool Api::delMirel()
{
    qint64 masterId = 0;
    QList<GroupChannel> current;
    LockedWrite write(db(), LockSubject::DeviceIdentity); // before the channels are read
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !requiredId("Id", 216, 216, &masterId) ||
        !beginWrite(write)) {
        return false;
    }
    req().logDebug(QObject::tr("Чтение текущих каналов СИ."));
    if (!groupChannels(QStringLiteral("\"MasterId\"=") + QString::number(masterId), &current)) {
        return false;
    }
    req().logDebug(QObject::tr("Проверка принадлежности приборов организации."));
    if (!groupInCompany(meterIdsOf(current))) {
        return false;
    }
    req().logDebug(QObject::tr("Удаление СИ."));
    const QString id = QString::number(masterId);
    quint16 code = write.exec(QStringLiteral("delete from \"ConcTable\" where (\"MasterId\"=") + id + QLatin1Char(')'));
    if (code == 0) {
        code = write.exec(QStringLiteral("delete from \"DeviceTable\" where (\"Id\"=") + id + QStringLiteral(") AND (\"ConnectType\"=1)"));
    }
    req().logDebug(QObject::tr("Изменение типа подключения приборов."));
    if (code == 0) {
        code = detachMeters(write, meterIdsOf(current));
    }
    return finish(code == 0 ? write.commit() : code);
}

} // namespace client
