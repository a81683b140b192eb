// The task queue of a device: commands that the data-collection component sends to it.
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
#include <cmath>

namespace client {

using namespace orvela;

namespace {

const char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";
constexpr qint64 kPruneDays = 61;
constexpr qint64 kExactInteger = 9007199254740992LL;

// Task numbers count down in milliseconds towards a fixed moment, kept to 31 bits.
qint64 taskNumber(const QDateTime& now)
{
    const QDateTime target(QDate(2033, 3, 27), QTime(4, 10, 25, 666), Qt::LocalTime);
    return now.msecsTo(target) & 0x7FFFFFFF;
}

// The task's argument as a JSON number; false when it does not fit the command's rule.
bool taskValue(qint64 command, const QString& text, QJsonValue* value)
{
    const struct {
        qint64 command;
        qint64 largest;
    } ranges[] = {{1, 1}, {2, 65535}, {3, 255}};
    for (const auto& range : ranges) {
        if (command == range.command) {
            const qint64 number = parseInt64(text);
            *value = number;
            return number >= 0 && number <= range.largest;
        }
    }
    bool ok = false;
    const qint64 integer = text.trimmed().toLongLong(&ok);
    if (ok) {
        // JSON numbers are doubles here: a larger integer would be stored as another number.
        *value = integer;
        return integer >= -kExactInteger && integer <= kExactInteger;
    }
    const double number = text.trimmed().toDouble(&ok);
    // JSON has no place for NaN or infinities.
    if (!ok || !std::isfinite(number)) {
        return false;
    }
    *value = number;
    return true;
}

// Drops tasks that lack their keys and tasks 61 days old or more, unless bit 0 of their
// "flags" keeps them.
void pruneQueue(QJsonArray* queue, const QDateTime& now)
{
    for (int i = queue->size() - 1; i >= 0; --i) {
        const QJsonObject task = queue->at(i).toObject();
        if (!task.contains(QStringLiteral("id")) || !task.contains(QStringLiteral("dateStart")) ||
            !task.contains(QStringLiteral("flags"))) {
            queue->removeAt(i);
            continue;
        }
        QDateTime start = QDateTime::fromString(task.value(QStringLiteral("dateStart")).toString(),
                                                QString::fromLatin1(kTimeFormat));
        start.setTimeSpec(Qt::UTC);
        if (!start.isValid() || (task.value(QStringLiteral("flags")).toInt() & 1) != 0) {
            continue;
        }
        if (start.secsTo(now) / 86400 >= kPruneDays) {
            queue->removeAt(i);
        }
    }
}

QString compact(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

} // namespace

// Common start of the four task commands: rights, company and the device id.
bool Api::taskStart(qint64* deviceId, qint64* company)
{
    if (!allowTypes(UserType::User, UserType::CompanyOperator) || !resolveCompanyId(company)) {
        return false;
    }
    if (!given("DeviceId")) {
        return fail(110);
    }
    *deviceId = int64Param("DeviceId");
    return *deviceId < 0 ? fail(216) : true;
}

// Queue changes hold the device's lock, so that concurrent changes all land, and the row's
// lock against the component that works the queue.
bool Api::lockTaskQueue(LockedWrite& write, qint64 deviceId)
{
    const quint16 code = write.ok() ? write.exec(QStringLiteral("SELECT \"Id\" FROM \"TaskTable\" WHERE (\"DeviceId\"=") +
                                                 QString::number(deviceId) + QStringLiteral(") FOR UPDATE;"))
                                    : 132;
    return code == 0 ? true : fail(code);
}

// The queue row of a device reachable through its current installation at an address of the
// company; 246 when there is none.
bool Api::readTaskQueue(qint64 deviceId, qint64 companyId, QSqlQuery* query)
{
    const QString sql =
        QStringLiteral("select t.\"DeviceId\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"ZavNum\", "
                       "d.\"ModelId\", m.\"Name\" as \"ModelName\", m.\"ResCode\", m.\"ManufId\", n.\"Name\" as "
                       "\"ManufName\", t.\"DromexNum\", (t.\"JsonTask\"::varchar) as \"JsonTask\" from \"TaskTable\" t, "
                       "\"DeviceTable\" d, \"ModelTable\" m, \"ManufTable\" n, \"InstallTable\" i, \"ObjectTable\" o, "
                       "\"AddressTable\" a where (t.\"DeviceId\"=") +
        QString::number(deviceId) +
        QStringLiteral(") and (t.\"DeviceId\"=d.\"Id\") and (d.\"ModelId\"=m.\"Id\") and (m.\"ManufId\"=n.\"Id\") and "
                       "(d.\"Id\"=i.\"DeviceId\") and (i.\"Actual\"=1) and (i.\"ObjectId\"=o.\"Id\") and "
                       "(o.\"AddressId\"=a.\"Id\") and (a.\"CompanyId\"") +
        (companyId > 0 ? QLatin1Char('=') + QString::number(companyId) : QStringLiteral(" is null")) +
        QStringLiteral(") limit 1;");
    if (!select(sql, query, 132)) {
        return false;
    }
    return query->next() ? true : fail(246);
}

bool Api::addTask()
{
    qint64 deviceId = 0;
    qint64 company = 0;
    if (!taskStart(&deviceId, &company)) {
        return false;
    }
    const QString dromexNum = text("DromexNum");
    qint64 command = 0;
    if (!requiredId("CommandCode", 141, 142, &command, false)) {
        return false;
    }
    if (!given("Value")) {
        return fail(301);
    }
    QJsonValue value;
    if (!taskValue(command, text("Value"), &value)) {
        return fail(302);
    }
    // Read and rewritten under the queue's locks, as in lockTaskQueue; the row may not exist
    // yet. The device's row is held too, so that a deletion of the device cannot leave this
    // queue behind.
    LockedWrite write(db(), LockSubject::TaskQueue, deviceId);
    if (!beginWrite(write)) {
        return false;
    }
    DeviceIdentity identity;
    quint16 code = db().deviceIdentity(deviceId, &identity);
    if (code != 0) {
        return fail(code);
    }
    QSqlQuery query = db().newQuery();
    if (!mayTouchDevice(deviceId, Hold::Link, Refusals{246, 246, 27, 27}) ||
        !select(QStringLiteral("SELECT \"Id\", \"DeviceId\", \"DromexNum\", (\"JsonTask\"::varchar) AS "
                               "\"JsonTask\" FROM \"TaskTable\" WHERE (\"DeviceId\"=") +
                    QString::number(deviceId) + QStringLiteral(") LIMIT 1 FOR UPDATE;"),
                &query, 132)) {
        return false;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const bool exists = query.next();
    QJsonArray queue;
    if (exists) {
        const QJsonDocument stored = QJsonDocument::fromJson(columnText(query, "JsonTask").toUtf8());
        if (!stored.isArray()) {
            return fail(131);
        }
        queue = stored.array();
        pruneQueue(&queue, now);
    }
    queue.append(QJsonObject{{QStringLiteral("id"), taskNumber(now)},
                             {QStringLiteral("dateStart"), now.toString(QString::fromLatin1(kTimeFormat))},
                             {QStringLiteral("command"), command},
                             {QStringLiteral("state"), 0},
                             {QStringLiteral("error"), 0},
                             {QStringLiteral("flags"), 0},
                             {QStringLiteral("dateSend"), QString(QLatin1String(""))},
                             {QStringLiteral("dateAnswer"), QString(QLatin1String(""))},
                             {QStringLiteral("value"), QJsonArray{value}}});
    qint64 rowId = 0;
    code = exists ? write.exec(QStringLiteral("UPDATE \"TaskTable\" SET \"JsonTask\"=") + sqlText(compact(queue)) +
                               QStringLiteral("::json WHERE (\"Id\"=") + query.value(0).toString() +
                               QStringLiteral(");"))
                  : write.exec(QStringLiteral("INSERT INTO \"TaskTable\" (\"DeviceId\", \"DromexNum\", \"JsonTask\") "
                                              "VALUES (") +
                                   QString::number(deviceId) + QStringLiteral(", ") + sqlText(dromexNum) +
                                   QStringLiteral("::varchar, ") + sqlText(compact(queue)) +
                                   QStringLiteral("::json) RETURNING \"Id\";"),
                               &rowId);
    if (code == 0) {
        code = write.commit();
    }
    return finish(code);
}

bool Api::getTaskTable()
{
    qint64 deviceId = 0;
    qint64 company = 0;
    QSqlQuery query = db().newQuery();
    if (!taskStart(&deviceId, &company) || !readTaskQueue(deviceId, company, &query)) {
        return false;
    }
    const QJsonDocument stored = QJsonDocument::fromJson(columnText(query, "JsonTask").toUtf8());
    if (!stored.isArray()) {
        return fail(131);
    }
    JsonRow row(query);
    row.number(QStringLiteral("deviceId"), "DeviceId")
        .number(QStringLiteral("devType"), "DevType")
        .text(QStringLiteral("manId"), "ManId")
        .number(QStringLiteral("identNum"), "IdentNum")
        .number(QStringLiteral("ver"), "Ver")
        .text(QStringLiteral("zavNum"), "ZavNum")
        .text(QStringLiteral("modelName"), "ModelName")
        .text(QStringLiteral("manufName"), "ManufName");
    if (!columnValue(query, "ResCode").isNull()) {
        row.number(QStringLiteral("resCode"), "ResCode");
    }
    row.text(QStringLiteral("dromexNum"), "DromexNum").value(QStringLiteral("taskArr"), stored.array());
    req().appendResponseRow(row.object());
    return succeed();
}

bool Api::delTask()
{
    qint64 deviceId = 0;
    qint64 company = 0;
    qint64 taskId = 0;
    if (!taskStart(&deviceId, &company) || !requiredId("TaskId", 304, 305, &taskId)) {
        return false;
    }
    LockedWrite write(db(), LockSubject::TaskQueue, deviceId);
    QSqlQuery query = db().newQuery();
    if (!lockTaskQueue(write, deviceId) || !readTaskQueue(deviceId, company, &query)) {
        return false;
    }
    const QJsonDocument stored = QJsonDocument::fromJson(columnText(query, "JsonTask").toUtf8());
    if (!stored.isArray()) {
        return fail(131);
    }
    QJsonArray queue = stored.array();
    int found = -1;
    for (int i = 0; i < queue.size() && found < 0; ++i) {
        if (!queue.at(i).isObject()) {
            return fail(131);
        }
        if (queue.at(i).toObject().value(QStringLiteral("id")).toVariant().toLongLong() == taskId) {
            found = i;
        }
    }
    if (found < 0) {
        return fail(306);
    }
    queue.removeAt(found);
    return finish(write.execAndCommit(QStringLiteral("update \"TaskTable\" set \"JsonTask\"=") + sqlText(compact(queue)) +
                              QStringLiteral("::json where (\"DeviceId\"=") + QString::number(deviceId) +
                              QStringLiteral(");")));
}

bool Api::clearTask()
{
    qint64 deviceId = 0;
    qint64 company = 0;
    if (!taskStart(&deviceId, &company)) {
        return false;
    }
    LockedWrite write(db(), LockSubject::TaskQueue, deviceId);
    QSqlQuery query = db().newQuery();
    if (!lockTaskQueue(write, deviceId) || !readTaskQueue(deviceId, company, &query)) {
        return false;
    }
    return finish(write.execAndCommit(QStringLiteral("update \"TaskTable\" set \"JsonTask\"='[]'::json where (\"DeviceId\"=") +
                              QString::number(deviceId) + QStringLiteral(");")));
}

} // namespace client
