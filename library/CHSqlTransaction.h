#pragma once
// One transaction on a shared connection: holds the owner's transaction lock for its lifetime
// (so no other thread's statements join it) and rolls back unless committed.

#include "library/ISQLite3.h"

#include <mutex>

class CHSqlTransaction {
public:
    CHSqlTransaction(ISQLite3& db, std::recursive_mutex& lock) : m_db(db), m_guard(lock) {
        m_open = m_db.Exec("BEGIN;");
    }
    ~CHSqlTransaction() {
        if (m_open) {
            m_db.Exec("ROLLBACK;");
        }
    }
    CHSqlTransaction(const CHSqlTransaction&) = delete;
    CHSqlTransaction& operator=(const CHSqlTransaction&) = delete;

    bool Ok() const { return m_open; }
    bool Commit() {
        if (!m_open) {
            return false;
        }
        m_open = false;
        if (m_db.Exec("COMMIT;")) {
            return true;
        }
        m_db.Exec("ROLLBACK;");
        return false;
    }

private:
    ISQLite3& m_db;
    std::lock_guard<std::recursive_mutex> m_guard;
    bool m_open = false;
};
