#pragma once

#include "db/transaction.h"

#include <QString>

namespace orvela {

class Database;

// What a lock keeps unique or whole.
enum class LockSubject : int {
    UserLogin = 1,
    CompanyName,
    ManufacturerName,
    ModelName,
    AbonentLogin,
    DeviceIdentity, // also taken first by every change or deletion of a group and of a device
    TaskQueue,
};

// Uniqueness that the commands enforce with a look-up before the write must hold when two
// requests race. A LockedWrite opens a transaction and takes a transaction-scoped advisory
// lock named after what must stay unique; look-ups and writes inside it see no concurrent
// writer of the same kind, and the lock ends with the transaction.
//
// Without a subject it is a plain transaction: the row locks that handlers take on the records
// they check (see the scope rules) then last until the write commits or rolls back.
class LockedWrite {
public:
    explicit LockedWrite(Database& db);
    // The key narrows the lock where one subject has many independent values (a device id).
    LockedWrite(Database& db, LockSubject subject, qint64 key = 0);

    // The statement that takes the lock of a subject and key inside a transaction; other
    // programs of the service (and tests) take the same lock with it.
    static QString lockStatement(LockSubject subject, qint64 key = 0);

    // False when the transaction or the lock could not be had (code 132, logged).
    bool ok() const { return m_ok; }
    // Runs one statement inside the transaction; a failure rolls everything back.
    quint16 exec(const QString& sql, qint64* outId = nullptr);
    quint16 commit();
    // The last statement of the write, then the commit.
    quint16 execAndCommit(const QString& sql, qint64* outId = nullptr);

private:
    Database& m_db;
    Transaction m_transaction;
    bool m_ok = false;
};

} // namespace orvela
