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

// 0 when a record with the id exists, 235 when not, or the look-up's code.
quint16 recordExists(Database& db, const char* table, qint64 id)
{
    qint64 found = -1;
    const quint16 code = db.findRecordId(QString::fromLatin1(table), QStringLiteral("\"Id\"=") + QString::number(id), &found);
    return code != 0 ? code : (found == -1 ? 235 : 0);
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
    quint16 code = write.ok() ? recordExists(db(), table, id) : 132;
    if (code == 0 && renaming) {
        code = nameIsFree(db(), table, text("Name"), id);
    }
    return code == 0 ? true : fail(code);
}

bool Api::deleteUnused(const char* table, qint64 id, const char* usedBy, const char* usedByColumn,
                       const QString& statement)
{
    quint16 code = recordExists(db(), table, id);
    if (code != 0) {
        return fail(code);
    }
    qint64 user = -1;
    code = db().findRecordId(QString::fromLatin1(usedBy),
                             QLatin1Char('"') + QLatin1String(usedByColumn) + QStringLiteral("\"=") + QString::number(id),
                             &user);
    if (code != 0) {
        return fail(code);
    }
    return user != -1 ? fail(204) : execute(statement);
}

} // namespace client
