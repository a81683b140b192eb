#pragma once

#include <QSqlDatabase>

namespace orvela {

// A transaction that rolls back when it goes out of scope without a commit. Constructed
// with active false it does nothing, so that callers can make the transaction optional.
class Transaction {
public:
    Transaction(QSqlDatabase& db, bool active = true) : m_db(db)
    {
        m_open = active && m_db.transaction();
        m_failedToBegin = active && !m_open;
    }
    ~Transaction() { rollback(); }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // False when the transaction was asked for but could not begin.
    bool began() const { return !m_failedToBegin; }

    // True when there was nothing to commit or the commit went through.
    bool commit()
    {
        if (m_failedToBegin) {
            return false;
        }
        if (!m_open) {
            return true;
        }
        m_open = false;
        return m_db.commit();
    }
    void rollback()
    {
        if (m_open) {
            m_db.rollback();
            m_open = false;
        }
    }

private:
    QSqlDatabase& m_db;
    bool m_open = false;
    bool m_failedToBegin = false;
};

} // namespace orvela
