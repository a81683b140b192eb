#include "db/lockedwrite.h"

#include "db/database.h"

#include <QSqlError>

namespace orvela {

namespace {
// The first half of every advisory key of this program, so that other users of advisory
// locks in the same database do not collide with ours.
constexpr int kLockClass = 0x4F52;
} // namespace

LockedWrite::LockedWrite(Database& db) : m_db(db), m_transaction(db.connection(), true)
{
    m_ok = m_transaction.began();
    if (!m_ok) {
        m_db.logStatementError(m_db.connection().lastError().text());
    }
}

LockedWrite::LockedWrite(Database& db, LockSubject subject, qint64 key) : LockedWrite(db)
{
    if (!m_ok) {
        return;
    }
    QSqlQuery query = m_db.newQuery();
    m_ok = m_db.select(lockStatement(subject, key), &query);
}

QString LockedWrite::lockStatement(LockSubject subject, qint64 key)
{
    // Keys of one subject share the class; the device or row key is folded into 32 bits.
    const qint64 objectKey = (static_cast<qint64>(subject) << 24) ^ (key & 0xFFFFFF) ^ (key >> 24);
    return QStringLiteral("SELECT pg_advisory_xact_lock(%1, %2)").arg(kLockClass).arg(static_cast<qint32>(objectKey));
}

quint16 LockedWrite::exec(const QString& sql, qint64* outId)
{
    QSqlQuery query = m_db.newQuery();
    const quint16 code = m_db.execQuery(sql, &query, false, outId);
    if (code == 132) {
        m_transaction.rollback();
        m_ok = false;
    }
    return code;
}

quint16 LockedWrite::execAndCommit(const QString& sql, qint64* outId)
{
    const quint16 code = exec(sql, outId);
    return code == 0 ? commit() : code;
}

quint16 LockedWrite::commit()
{
    if (!m_ok) {
        return 132;
    }
    if (!m_transaction.commit()) {
        m_db.logStatementError(m_db.connection().lastError().text());
        return 132;
    }
    return 0;
}

} // namespace orvela
