// Companies, manufacturers and models share one rule: names are unique within their table,
// enforced by a look-up under a lock before the write.
#include "cgi/client/api.h"

#include "app/httporvelaserver.h"
#include "db/database.h"
#include "db/lockedwrite.h"
#include "db/sqltext.h"

namespace client {

using namespace orvela;

namespace {

// 0 when no other record of the table has the name, 203 when one has, or the look-up's code.
quint16 nameIsFree(Database& db, const char* table, const QString& name, qint64 ownId)
{
    qint64 found = -1;
    const quint16 code = db.findRecordId(QString::fromLatin1(table), QStringLiteral("\"Name\"=") + sqlText(name), &found);
    if (code != 0) {
        return code;
    }
    return (found != -1 && found != ownId) ? 203 : 0;
}

} // namespace

// Takes the name lock, refuses a taken "Name", builds the statement (whose checks come after
// the name's) and answers the new id.
bool Api::insertNamed(LockSubject subject, const char* table, const std::function<bool(QString*)>& statement)
{
    LockedWrite write(db(), subject);
    const quint16 nameCode = write.ok() ? nameIsFree(db(), table, text("Name"), -1) : 132;
    if (nameCode != 0) {
        return fail(nameCode);
    }
    QString sql;
    if (!statement(&sql)) {
        return false;
    }
    qint64 id = 0;
    const quint16 code = write.execAndCommit(sql, &id);
    if (code != 0) {
        return fail(code);
    }
    req().setResponseId(id);
    return succeed();
}

// The record must exist, and a new "Name" must not be another record's.
bool Api::beginNamedUpdate(LockedWrite& write, const char* table, qint64 id, bool renaming)
{
    if (!beginWrite(write) || !recordExists(table, id, Hold::Change, 235)) {
        return false;
    }
    const quint16 code = renaming ? nameIsFree(db(), table, text("Name"), id) : 0;
    return code == 0 ? true : fail(code);
}

// A record that others refer to stays. Its row is held while the references are counted, so
// that a reference made meanwhile is either seen here or finds the record gone.
bool Api::deleteUnused(const char* table, qint64 id, const char* usedBy, const char* usedByColumn,
                       const QString& statement)
{
    LockedWrite write(db());
    if (!beginWrite(write) || !recordExists(table, id, Hold::Remove, 235)) {
        return false;
    }
    qint64 user = -1;
    const quint16 code = db().findRecordId(
        QString::fromLatin1(usedBy), QLatin1Char('"') + QLatin1String(usedByColumn) + QStringLiteral("\"=") + QString::number(id),
        &user);
    if (code != 0) {
        return fail(code);
    }
    return user != -1 ? fail(204) : finish(write.execAndCommit(statement));
}

} // namespace client
