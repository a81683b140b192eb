// LoRa devices: the channel rows that share one DevEUI, each carrying a meter, and an optional
// hub that owns them. Every change of a device is written in one transaction.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/channelmeter.h"
#include "cgi/client/datafields.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {

// A meter of a LoRa device is the one on its channel: a "deviceId" in the request names
// nothing, or a device of any company could be rewritten and moved through a new channel.
const ChannelRules kAddedChannels{nullptr, true, false};
const ChannelRules kChangedChannels{"objectId", true, false};

int modelDataFormat(const QSqlQuery& query)
{
    return QJsonDocument::fromJson(columnText(query, "ModelData").toUtf8()).object().value(QStringLiteral("loraDataFormat")).toInt();
}

} // namespace

// The DevEUI a list or a deletion names: 216 when it is missing or no DevEUI at all.
bool Api::devEuiParameter(QString* eui)
{
    return readDevEui(QJsonValue(text("DevEUI")), eui) ? true : failNaming(216, "DevEUI");
}

// The hub of a LoRa device, with its model ("Id" and "ManufId" too when asked).
bool Api::loraHub(qint64 masterId, bool withIds, QJsonObject* hub)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", "
                               "n.\"Name\" as \"ManufName\", m.\"Name\" as \"ModelName\", m.\"Id\" as \"ModelId\", m.\"ManufId\", "
                               "m.\"JsonData\"::varchar as \"ModelData\" FROM \"DeviceTable\" d, \"ManufTable\" n, \"ModelTable\" m "
                               "WHERE (d.\"Id\" = ") +
                    QString::number(masterId) +
                    QStringLiteral(") AND (d.\"ConnectType\" = 1) AND (d.\"Status\" = 0) AND (d.\"ModelId\" = m.\"Id\") AND "
                                   "(m.\"ManufId\" = n.\"Id\")"),
                &query, 132)) {
        return false;
    }
    if (!query.next()) {
        return true;
    }
    JsonRow row(query);
    row.number(QStringLiteral("id"), "Id")
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .text(QStringLiteral("manufName"), "ManufName")
        .text(QStringLiteral("modelName"), "ModelName");
    if (withIds) {
        row.number(QStringLiteral("modelId"), "ModelId")
            .number(QStringLiteral("manufId"), "ManufId")
            .value(QStringLiteral("loraDataFormat"), modelDataFormat(query));
    }
    *hub = row.object();
    return true;
}

QJsonObject Api::loraTableChannel(const QSqlQuery& row) const
{
    JsonRow channel(row);
    channel.number(QStringLiteral("channel"), "Channel")
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .text(QStringLiteral("manufName"), "ManufName")
        .text(QStringLiteral("modelName"), "ModelName")
        .number(QStringLiteral("resCode"), "ResCode")
        .value(QStringLiteral("install"), QString(columnText(row, "DateInstall").left(10) + QLatin1Char('\n') + columnText(row, "Obj")))
        .number(QStringLiteral("id"), "Id");
    return channel.object();
}

// Rows of one DevEUI after another become one device each, with its hub when it has one.
bool Api::appendLoraDevices(QSqlQuery& rows, bool editing)
{
    QJsonObject device;
    QJsonArray channels;
    qint64 masterId = 0;
    const auto close = [&]() {
        QJsonObject hub;
        if (!device.isEmpty() && masterId > 0 && !loraHub(masterId, editing, &hub)) {
            return false;
        }
        if (!device.isEmpty()) {
            device.insert(QStringLiteral("channels"), channels);
            if (!hub.isEmpty()) {
                device.insert(QStringLiteral("MasterId"), hub);
            }
            req().appendResponseRow(device);
        }
        return true;
    };
    while (rows.next()) {
        const QString eui = columnText(rows, "Deveui");
        if (device.value(QStringLiteral("devEUI")).toString() != eui || device.isEmpty()) {
            if (!close()) {
                return false;
            }
            device = QJsonObject{{QStringLiteral("devEUI"), eui}, {QStringLiteral("loraDataFormat"), modelDataFormat(rows)}};
            channels = QJsonArray();
            masterId = columnNumber(rows, "MasterId");
        }
        channels.append(editing ? loraDeviceChannel(rows) : loraTableChannel(rows));
    }
    return close();
}

bool Api::getLoRaTable()
{
    qint64 company = 0;
    qint64 addressId = 0;
    QString conditions;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) ||
        !requiredId("AddressId", 76, 59, &addressId) ||
        !numberFilter("ResCode", QStringLiteral("m.\"ResCode\""), 216, &conditions, false)) {
        return false;
    }
    if (given("DevEUI")) {
        conditions += QStringLiteral(" AND (c.\"Deveui\" LIKE ") + sqlContains(text("DevEUI").trimmed().toUpper()) + QLatin1Char(')');
    }
    QSqlQuery rows = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", n.\"Name\" "
                               "as \"ManufName\", m.\"Name\" as \"ModelName\", m.\"ResCode\", m.\"JsonData\"::varchar as \"ModelData\", "
                               "o.\"Obj\", o.\"ObjType\", i.\"DateInstall\"::text AS \"DateInstall\", c.\"Channel\", c.\"Deveui\", "
                               "c.\"DeviceId\", c.\"MasterId\" FROM \"DeviceTable\" d, \"ManufTable\" n, \"ModelTable\" m, "
                               "\"ObjectTable\" o, \"InstallTable\" i, \"ConcTable\" c, \"AddressTable\" a WHERE (a.\"Id\" = ") +
                    QString::number(addressId) + QStringLiteral(") AND (a.\"CompanyId\"") + companyMatch(company) +
                    QStringLiteral(") AND (a.\"Id\" = o.\"AddressId\") AND (o.\"Id\" = i.\"ObjectId\") AND (i.\"DeviceId\" = d.\"Id\") "
                                   "AND (d.\"Id\" = c.\"DeviceId\") AND (d.\"ConnectType\" = 2) AND (d.\"Status\" = 0) AND "
                                   "(d.\"ModelId\" = m.\"Id\") AND (m.\"ManufId\" = n.\"Id\") AND (i.\"Actual\" = 1)"
                                   // Meters of concentrators are channel meters too, but of no LoRa device.
                                   " AND (c.\"Deveui\" IS NOT NULL)") +
                    conditions + QStringLiteral(" ORDER BY \"Deveui\" ASC, \"Channel\" ASC LIMIT 10000;"),
                &rows, 132)) {
        return false;
    }
    return appendLoraDevices(rows, false) ? succeed() : false;
}

QJsonObject Api::loraDeviceChannel(const QSqlQuery& row) const
{
    JsonRow channel(row);
    channel.number(QStringLiteral("id"), "Id")
        .number(QStringLiteral("channel"), "Channel")
        .value(QStringLiteral("data"), columnObject(row, "ChannelData"))
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("devType"), "DevType")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .number(QStringLiteral("manufId"), "ManufId")
        .number(QStringLiteral("modelId"), "ModelId")
        .number(QStringLiteral("resCode"), "ResCode")
        .value(QStringLiteral("dateInstall"), columnText(row, "DateInstall").left(10))
        .number(QStringLiteral("objectId"), "ObjectId")
        .number(QStringLiteral("transKoef"), "TransKoef")
        .text(QStringLiteral("note"), "Note");
    return channel.object();
}

bool Api::getLoRaDevice()
{
    qint64 company = 0;
    QString eui;
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !devEuiParameter(&eui)) {
        return false;
    }
    QSqlQuery rows = db().newQuery();
    if (!select(QStringLiteral("SELECT DISTINCT d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", "
                               "d.\"TransKoef\", d.\"Note\",n.\"Name\" as \"ManufName\", m.\"Id\" as \"ModelId\", m.\"ManufId\", "
                               "m.\"Name\" as \"ModelName\", m.\"ResCode\", m.\"JsonData\"::varchar as \"ModelData\", c.\"Channel\", "
                               "c.\"DeviceId\", c.\"MasterId\", c.\"Deveui\", c.\"JsonData\"::varchar as \"ChannelData\", o.\"Obj\", "
                               "i.\"DateInstall\"::text AS \"DateInstall\", i.\"ObjectId\" FROM \"DeviceTable\" d, \"ManufTable\" n, "
                               "\"ModelTable\" m, \"ObjectTable\" o, \"InstallTable\" i, \"ConcTable\" c, \"AddressTable\" a WHERE "
                               "(a.\"CompanyId\"") +
                    companyMatch(company) +
                    QStringLiteral(") AND (a.\"Id\" = o.\"AddressId\") AND (i.\"Actual\" = 1)AND (o.\"Id\" = i.\"ObjectId\") AND "
                                   "(i.\"DeviceId\" = d.\"Id\") AND (d.\"Id\" = c.\"DeviceId\") AND (c.\"Deveui\" = ") +
                    sqlText(eui) +
                    QStringLiteral(") AND (d.\"ModelId\" = m.\"Id\") AND (m.\"ManufId\" = n.\"Id\") ORDER BY \"Channel\" ASC LIMIT 100;"),
                &rows, 132)) {
        return false;
    }
    if (!appendLoraDevices(rows, true)) {
        return false;
    }
    return !req().hasResponseRows() ? fail(246) : succeed();
}

// The DevEUI is not taken yet by another device (151).
bool Api::devEuiIsFree(const QString& eui)
{
    qint64 found = -1;
    const quint16 code = db().findRecordId(QStringLiteral("ConcTable"), QStringLiteral("\"Deveui\"=") + sqlText(eui), &found);
    if (code != 0) {
        return fail(code);
    }
    return found == -1 ? true : fail(151);
}

// A new LoRa device as the request's content describes it, checked whole.
bool Api::readNewLora(qint64 company, QString* eui, QJsonObject* content, GroupDevice* hub, QList<ChannelMeter>* meters)
{
    qint64 objectId = 0;
    if (!groupContent(content)) {
        return false;
    }
    if (!content->contains(QStringLiteral("ObjectId"))) {
        return fail(145);
    }
    if (!jsonToInt64(content->value(QStringLiteral("ObjectId")), &objectId) || objectId < 1) {
        return failNaming(216, "ObjectId");
    }
    if (!readDevEui(content->value(QStringLiteral("DevEUI")), eui)) {
        return failNaming(216, "DevEUI");
    }
    if (!readChannels(content->value(QStringLiteral("Channels")), kAddedChannels, true, meters)) {
        return false;
    }
    const QJsonValue hubValue = content->value(QStringLiteral("Hub"));
    const quint16 hubCode = hubValue.isObject() ? readDeviceIdentity(hubValue.toObject(), hub) : 0;
    if (hubCode != 0) {
        return fail(hubCode);
    }
    QList<const GroupDevice*> devices;
    QList<qint64> models;
    if (hubValue.isObject()) {
        devices << hub;
        models << hub->modelId;
    }
    for (ChannelMeter& meter : *meters) {
        meter.objectId = objectId;
        devices << &meter;
        models << meter.modelId;
    }
    return devEuiIsFree(*eui) && identitiesAreFree(devices, {}) && modelsExist(models) &&
           meterObjectAllowed(objectId, company, false);
}

QString Api::loraTuple(const QString& eui, qint64 meterId, const ChannelMeter& meter, qint64 masterId) const
{
    return QStringLiteral("(") + sqlText(eui) + QStringLiteral(", ") + QString::number(meterId) + QStringLiteral(", ") +
           QString::number(meter.channel) + QStringLiteral(", ") + sqlText(meter.channelData()) + QStringLiteral("::json,") +
           sqlIdOrNull(masterId) + QLatin1Char(')');
}

bool Api::addLoRaDevice()
{
    qint64 company = 0;
    QString eui;
    QJsonObject content;
    GroupDevice hub;
    QList<ChannelMeter> meters;
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !beginWrite(write) ||
        !readNewLora(company, &eui, &content, &hub, &meters)) {
        return false;
    }
    qint64 masterId = 0;
    quint16 code = 0;
    if (content.value(QStringLiteral("Hub")).isObject()) {
        code = insertGroupDevice(write, hub, QStringLiteral(", \"ConnectType\""), QStringLiteral(", 1"), &masterId);
    }
    QStringList tuples;
    for (const ChannelMeter& meter : meters) {
        qint64 meterId = 0;
        if (code == 0) {
            code = insertChannelMeter(write, meter, &meterId);
        }
        tuples << loraTuple(eui, meterId, meter, masterId);
    }
    if (code == 0) {
        code = write.execAndCommit(QStringLiteral("INSERT INTO \"ConcTable\" (\"Deveui\", \"DeviceId\", \"Channel\", \"JsonData\","
                                                  "\"MasterId\") VALUES") +
                                   tuples.join(QStringLiteral(", ")));
    }
    return finish(code);
}

// The channels of a change: each enabled element is the meter of its channel, the one there
// now or a new one; every identity free but for the device's own meters, every object the
// company's.
bool Api::readChangedLora(qint64 company, const QJsonObject& content, const QList<GroupChannel>& current,
                          QList<ChannelMeter>* meters)
{
    if (!readChannels(content.value(QStringLiteral("Channels")), kChangedChannels, true, meters)) {
        return false;
    }
    QList<const GroupDevice*> devices;
    QList<qint64> models;
    QList<qint64> ownIds;
    for (ChannelMeter& meter : *meters) {
        // The meter on the element's channel now, or a new one (0).
        for (const GroupChannel& row : current) {
            meter.deviceId = row.channel == meter.channel ? row.deviceId : meter.deviceId;
        }
        devices << &meter;
        models << meter.modelId;
        ownIds << meter.deviceId;
    }
    if (!identitiesAreFree(devices, ownIds) || !modelsExist(models)) {
        return false;
    }
    req().logDebug(QObject::tr("Проверка принадлежности объекта адресу организации."));
    for (const ChannelMeter& meter : *meters) {
        if (!meterObjectAllowed(meter.objectId, company, false)) {
            req().logError(QStringLiteral("ObjId > ") + QString::number(meter.objectId));
            return failWithSourceLine(190, __FILE__, __LINE__);
        }
    }
    return true;
}

quint16 Api::applyLoraChannel(LockedWrite& write, const QString& eui, qint64 masterId, const QList<GroupChannel>& current,
                              const ChannelMeter& meter)
{
    if (meter.deviceId == 0) {
        req().logDebug(QObject::tr("Добавление нового прибора."));
        qint64 meterId = 0;
        const quint16 code = insertChannelMeter(write, meter, &meterId);
        req().logDebug(QObject::tr("Добавление записи в ConcTable."));
        return code != 0 ? code
                         : write.exec(QStringLiteral("INSERT INTO \"ConcTable\" (\"Deveui\", \"DeviceId\", \"Channel\", \"JsonData\","
                                                     "\"MasterId\") VALUES ") +
                                      loraTuple(eui, meterId, meter, masterId));
    }
    req().logDebug(QObject::tr("Изменение таблицы приборов"));
    const quint16 code = updateChannelMeter(write, meter);
    if (code != 0) {
        req().logError(QStringLiteral("DeviceId > ") + QString::number(meter.deviceId));
        return code;
    }
    req().logDebug(QObject::tr("Изменение записи в ConcTable."));
    for (const GroupChannel& row : current) {
        if (row.channel == meter.channel) {
            return write.exec(QStringLiteral("UPDATE \"ConcTable\"  SET \"DeviceId\"=") + QString::number(meter.deviceId) +
                              QStringLiteral(", \"Channel\"=") + QString::number(meter.channel) + QStringLiteral(", \"JsonData\" = ") +
                              sqlText(meter.channelData()) + QStringLiteral("::json  WHERE (\"Id\"=") +
                              QString::number(row.rowId) + QLatin1Char(')'));
        }
    }
    return 0;
}

bool Api::updLoRaDevice()
{
    qint64 company = 0;
    QString eui;
    QString renamed;
    QJsonObject content;
    QList<GroupChannel> current;
    QList<ChannelMeter> meters;
    LockedWrite write(db(), LockSubject::DeviceIdentity);
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !beginWrite(write) ||
        !groupContent(&content)) {
        return false;
    }
    if (!readDevEui(content.value(QStringLiteral("DevEUI")), &eui)) {
        failWithSourceLine(216, __FILE__, __LINE__);
        return failNaming(216, "DevEUI");
    }
    req().logDebug(QObject::tr("Чтение текущих каналов."));
    if (!groupChannels(QStringLiteral("\"Deveui\"=") + sqlText(eui), &current)) {
        return false;
    }
    if (current.isEmpty() || !groupInCompany(meterIdsOf(current))) {
        return failWithSourceLine(246, __FILE__, __LINE__);
    }
    const bool renaming = content.contains(QStringLiteral("NewDevEUI"));
    if (renaming && !readDevEui(content.value(QStringLiteral("NewDevEUI")), &renamed)) {
        failWithSourceLine(216, __FILE__, __LINE__);
        return failNaming(216, "NewDevEUI");
    }
    if ((renaming && renamed != eui && !devEuiIsFree(renamed)) || !readChangedLora(company, content, current, &meters)) {
        return false;
    }
    quint16 code = 0;
    QSet<qint64> kept;
    for (const ChannelMeter& meter : meters) {
        kept.insert(meter.channel);
        if (code == 0) {
            code = applyLoraChannel(write, eui, current.first().masterId, current, meter);
        }
    }
    if (code == 0) {
        code = dropUnusedChannels(write, current, kept);
    }
    if (code == 0 && renaming) {
        req().logDebug(QObject::tr("Применение изменений устройства."));
        req().logDebug(QStringLiteral("devEUI > ") + renamed);
        code = write.exec(QStringLiteral("UPDATE \"ConcTable\"  SET \"Deveui\"=") + sqlText(renamed) +
                          QStringLiteral("  WHERE (\"Deveui\"=") + sqlText(eui) + QStringLiteral(") ;"));
    }
    return finish(code == 0 ? write.commit() : code);
}

// The device goes with its meters, their installations, verifications and task queues, and
// its hub when no other device uses it; the readings stay in the archive. Under the lock of
// group changes, as for concentrators: a change in progress ends before the channels are read.
bool Api::delLoRaDevice()
{
    qint64 company = 0;
    QString eui;
    QList<GroupChannel> current;
    LockedWrite write(db(), LockSubject::DeviceIdentity); // before the channels are read
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(&company) || !devEuiParameter(&eui) ||
        !beginWrite(write) || !groupChannels(QStringLiteral("\"Deveui\"=") + sqlText(eui), &current)) {
        return false;
    }
    if (user().isCompanyBound() && !groupInCompany(meterIdsOf(current))) {
        return failWithSourceLine(246, __FILE__, __LINE__);
    }
    req().logDebug(QObject::tr("Удаление связей ПУ."));
    QStringList statements{QStringLiteral("DELETE FROM \"ConcTable\" WHERE (\"Deveui\"=") + sqlText(eui) + QLatin1Char(')')};
    for (const GroupChannel& channel : current) {
        const QString id = QString::number(channel.deviceId);
        for (const char* table : {"DeviceTable", "InstallTable", "PoverkaTable", "TaskTable"}) {
            statements << QStringLiteral("DELETE FROM \"") + QLatin1String(table) + QStringLiteral("\" WHERE (\"") +
                              (qstrcmp(table, "DeviceTable") == 0 ? QStringLiteral("Id") : QStringLiteral("DeviceId")) +
                              QStringLiteral("\"=") + id + QLatin1Char(')');
        }
    }
    if (!current.isEmpty() && current.first().masterId > 0) {
        const QString hub = QString::number(current.first().masterId);
        statements << QStringLiteral("DELETE FROM \"DeviceTable\" WHERE (\"Id\"=") + hub +
                          QStringLiteral(") AND (\"ConnectType\"=1) AND NOT EXISTS (SELECT 1 FROM \"ConcTable\" WHERE (\"MasterId\"=") +
                          hub + QStringLiteral("))");
    }
    for (const QString& sql : statements) {
        const quint16 code = write.exec(sql);
        if (code != 0) {
            req().logError(QStringLiteral("Откат изменени. Deveui > ") + eui);
            return fail(code);
        }
    }
    req().logDebug(QStringLiteral("Удален/ы. Deveui > ") + eui);
    return finish(write.commit());
}

} // namespace client
