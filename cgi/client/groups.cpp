// What concentrators and LoRa devices share: their JSON content, the meters on their
// channels, the identities they take, where the meters are installed and who may change them.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "cgi/client/channelmeter.h"
#include "db/database.h"
#include "db/jsonrow.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

#include <QJsonArray>
#include <QSqlQuery>

namespace client {

using namespace orvela;

namespace {
// The most channel elements one group may list; a concentrator has a few dozen inputs at most.
constexpr int kMostChannels = 1024;
} // namespace

// The request's JSON content besides the command and the credentials: a non-empty object,
// else 176.
bool Api::groupContent(QJsonObject* content)
{
    for (auto it = req().jsonParameters().cbegin(); it != req().jsonParameters().cend(); ++it) {
        if (it.key() != QLatin1String("CMD") && it.key() != QLatin1String("Auth")) {
            content->insert(it.key(), it.value());
        }
    }
    return content->isEmpty() || tarn::jsonHasNul(*content) ? fail(176) : true;
}

// The meters among the channel elements, read in order; a channel named twice would be two
// meters on one input (176), and no meter at all is 316.
bool Api::readChannels(const QJsonValue& channels, const ChannelRules& rules, bool enabledOnly, QList<ChannelMeter>* meters)
{
    // Every channel becomes a meter written in the group's one transaction.
    if (!channels.isArray() || channels.toArray().size() > kMostChannels) {
        return fail(176);
    }
    QSet<qint64> seen;
    for (const QJsonValue& value : channels.toArray()) {
        const QJsonObject element = value.toObject();
        const bool meter = enabledOnly ? element.value(QStringLiteral("enabled")).toBool(false) : describesMeter(element);
        if (!value.isObject() || !meter) {
            continue;
        }
        ChannelMeter channel;
        const quint16 code = readChannelMeter(element, rules, req().requestTime().date(), &channel);
        if (code != 0) {
            return fail(code);
        }
        if (seen.contains(channel.channel)) {
            return fail(176);
        }
        seen.insert(channel.channel);
        *meters << channel;
    }
    return meters->isEmpty() ? fail(316) : true;
}

// No device but the given ones has any of the identities, and no identity is named twice;
// 151 otherwise. Read under the lock that keeps identities unique, which the caller holds.
bool Api::identitiesAreFree(const QList<const GroupDevice*>& devices, const QList<qint64>& ownIds)
{
    QStringList tuples;
    QSet<QString> keys;
    for (const GroupDevice* device : devices) {
        if (keys.contains(device->identityKey())) {
            return fail(151);
        }
        keys.insert(device->identityKey());
        tuples << QStringLiteral("(%1, %2, %3, %4)").arg(device->devType).arg(sqlText(device->manId)).arg(device->identNum).arg(device->ver);
    }
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT \"Id\" FROM \"DeviceTable\" WHERE (\"DevType\", \"ManId\", \"IdentNum\", \"Ver\") IN (") +
                    tuples.join(QLatin1Char(',')) + QStringLiteral(");"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        if (!ownIds.contains(query.value(0).toLongLong())) {
            return fail(151);
        }
    }
    return true;
}

// The models exist, and stay until the group is written (313).
bool Api::modelsExist(const QList<qint64>& modelIds)
{
    for (const qint64 modelId : modelIds) {
        if (!recordExists("ModelTable", modelId, Hold::Link, 313)) {
            return false;
        }
    }
    return true;
}

// Where a company-bound caller may install a meter: objects of his company. A global caller
// acting for a company likewise; one acting for none may use any object when the group's
// rule allows it, else only objects of no company. 190 otherwise.
bool Api::meterObjectAllowed(qint64 objectId, qint64 company, bool anyObjectForGlobal)
{
    if (!user().isCompanyBound() && company == 0 && anyObjectForGlobal) {
        return recordExists("ObjectTable", objectId, Hold::Link, 190);
    }
    return checkObjectInCompany(objectId, company);
}

quint16 Api::insertGroupDevice(LockedWrite& write, const GroupDevice& device, const QString& columns,
                               const QString& values, qint64* id)
{
    return write.exec(QStringLiteral("insert into \"DeviceTable\" (\"ManId\", \"IdentNum\", \"Ver\", \"DevType\", \"ZavNum\", "
                                     "\"ModelId\", \"Status\"") +
                          columns + QStringLiteral(") values (") + device.identityValues() + QStringLiteral(", ") +
                          sqlText(device.zavNum) + QStringLiteral(", ") + QString::number(device.modelId) +
                          QStringLiteral(", 0") + values + QStringLiteral(") returning \"Id\";"),
                      id);
}

quint16 Api::installMeter(LockedWrite& write, qint64 deviceId, qint64 objectId, const QDate& date)
{
    return write.exec(QStringLiteral("insert into \"InstallTable\" (\"DeviceId\", \"ObjectId\", \"DateInstall\", \"Actual\") values (") +
                      QString::number(deviceId) + QStringLiteral(", ") + QString::number(objectId) + QStringLiteral(", ") +
                      sqlText(date.toString(QStringLiteral("yyyy-MM-dd"))) + QStringLiteral("::date, 1) ;"));
}

// A meter's current installation follows the request: in the same object only its date
// changes; in another object the current row is closed and a new one opened, so that the
// history of where the meter was stays as it was.
quint16 Api::moveInstallation(LockedWrite& write, qint64 deviceId, qint64 objectId, const QDate& date)
{
    QSqlQuery query = db().newQuery();
    if (!db().select(QStringLiteral("SELECT \"Id\", \"ObjectId\" FROM \"InstallTable\" WHERE (\"DeviceId\"=") +
                         QString::number(deviceId) + QStringLiteral(") AND (\"Actual\" = 1) LIMIT 1;"),
                     &query)) {
        return 132;
    }
    if (query.next() && query.value(1).toLongLong() == objectId) {
        return write.exec(QStringLiteral("UPDATE \"InstallTable\" SET \"DateInstall\"=") +
                          sqlText(date.toString(QStringLiteral("yyyy-MM-dd"))) + QStringLiteral("::date WHERE (\"Id\"=") +
                          query.value(0).toString() + QLatin1Char(')'));
    }
    if (query.isValid()) {
        const quint16 code = write.exec(QStringLiteral("UPDATE \"InstallTable\" SET \"Actual\"=0 WHERE (\"Id\"=") +
                                        query.value(0).toString() + QLatin1Char(')'));
        if (code != 0) {
            return code;
        }
    }
    return installMeter(write, deviceId, objectId, date);
}

// A company-bound caller changes or deletes a group only when every meter on it is installed
// in his company now; a group without meters belongs to nobody but the global users. 246
// otherwise.
bool Api::groupInCompany(const QList<qint64>& meterIds)
{
    if (!user().isCompanyBound()) {
        return true;
    }
    if (meterIds.isEmpty()) {
        return fail(246);
    }
    for (const qint64 meterId : meterIds) {
        if (!mayTouchDevice(meterId, Hold::Change, sameRefusals(246, 246))) {
            return false;
        }
    }
    return true;
}

// The meters of a group read from its channel rows, all of them, with the row of each.
bool Api::groupChannels(const QString& condition, QList<GroupChannel>* channels)
{
    QSqlQuery query = db().newQuery();
    if (!select(QStringLiteral("SELECT \"Id\", \"DeviceId\", \"Channel\", \"MasterId\" FROM \"ConcTable\" WHERE (") +
                    condition + QStringLiteral(") ORDER BY \"Channel\" ASC FOR UPDATE;"),
                &query, 132)) {
        return false;
    }
    while (query.next()) {
        *channels << GroupChannel{query.value(0).toLongLong(), query.value(1).toLongLong(), query.value(2).toLongLong(),
                                  query.value(3).isNull() ? 0 : query.value(3).toLongLong()};
    }
    return true;
}

QList<qint64> Api::meterIdsOf(const QList<GroupChannel>& channels)
{
    QList<qint64> ids;
    for (const GroupChannel& channel : channels) {
        ids << channel.deviceId;
    }
    return ids;
}

// The rows of channels the request no longer names go, and their meters become standalone.
quint16 Api::dropUnusedChannels(LockedWrite& write, const QList<GroupChannel>& current, const QSet<qint64>& kept)
{
    for (const GroupChannel& channel : current) {
        if (kept.contains(channel.channel)) {
            continue;
        }
        const quint16 code = write.exec(QStringLiteral("delete from \"ConcTable\" where (\"Id\"=") +
                                        QString::number(channel.rowId) + QLatin1Char(')'));
        if (code != 0) {
            return code;
        }
    }
    return detachMeters(write, meterIdsOf(current));
}

// A meter left on no channel, whether its channel went or got another meter, stays as a
// standalone device; one that moved to another channel stays a channel meter.
quint16 Api::detachMeters(LockedWrite& write, const QList<qint64>& formerMeters)
{
    return write.exec(QStringLiteral("update \"DeviceTable\" d set \"ConnectType\"=0 where (d.\"Id\" = ANY(") +
                      sqlIdArray(formerMeters) +
                      QStringLiteral(")) AND NOT EXISTS (SELECT 1 FROM \"ConcTable\" c WHERE c.\"DeviceId\"=d.\"Id\")"));
}

} // namespace client
