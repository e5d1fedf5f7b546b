#include "library/CHSQLite3.h"

#include <sqlite3.h>

#include <cctype>
#include <type_traits>

namespace {

constexpr int kBusyTimeoutMs = 5000;

// A prepared statement that is finalized however the caller leaves.
struct StmtDeleter {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

bool OnlyBlanks(const char* text, const char* end) {
    for (; text < end; ++text) {
        if (!std::isspace(static_cast<unsigned char>(*text)) && *text != ';') {
            return false;
        }
    }
    return true;
}

bool BindAll(sqlite3_stmt* stmt, const SqlArgs& args) {
    if (sqlite3_bind_parameter_count(stmt) != static_cast<int>(args.size())) {
        return false;
    }
    int index = 1;
    for (const SqlValue& value : args) {
        int rc = std::visit(
            [&](const auto& v) -> int {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::nullptr_t>) {
                    return sqlite3_bind_null(stmt, index);
                } else if constexpr (std::is_same_v<T, int64_t>) {
                    return sqlite3_bind_int64(stmt, index, v);
                } else if constexpr (std::is_same_v<T, double>) {
                    return sqlite3_bind_double(stmt, index, v);
                } else if constexpr (std::is_same_v<T, std::string_view>) {
                    return sqlite3_bind_text64(stmt, index, v.data(), v.size(), SQLITE_TRANSIENT,
                                               SQLITE_UTF8);
                } else {
                    return sqlite3_bind_blob64(stmt, index, v.bytes.data(), v.bytes.size(),
                                               SQLITE_TRANSIENT);
                }
            },
            value);
        if (rc != SQLITE_OK) {
            return false;
        }
        ++index;
    }
    return true;
}

} // namespace

struct CHSQLite3::Handle {
    sqlite3* db = nullptr;

    explicit Handle(sqlite3* d) : db(d) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        // Fold the write-ahead log back into the file so the library moves as one file.
        sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        sqlite3_close_v2(db);
    }

    // One statement with its values bound; null when the text does not prepare or bind.
    StmtPtr Prepare(std::string_view sql, const SqlArgs& args) const {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, &tail) !=
                SQLITE_OK ||
            raw == nullptr) {
            sqlite3_finalize(raw);
            return nullptr;
        }
        StmtPtr stmt(raw);
        if (!OnlyBlanks(tail, sql.data() + sql.size()) || !BindAll(raw, args)) {
            return nullptr;
        }
        return stmt;
    }
};

namespace {

class CHSQLite3Rows : public ISQLite3Rows {
public:
    CHSQLite3Rows(std::shared_ptr<CHSQLite3::Handle> handle, StmtPtr stmt)
        : m_handle(std::move(handle)), m_stmt(std::move(stmt)) {}

    bool Next() override {
        if (!m_stmt) {
            return false;
        }
        if (sqlite3_step(m_stmt.get()) == SQLITE_ROW) {
            return true;
        }
        Finish();
        return false;
    }
    int GetInt(int column) override {
        return m_stmt ? sqlite3_column_int(m_stmt.get(), column) : 0;
    }
    int64_t GetInt64(int column) override {
        return m_stmt ? sqlite3_column_int64(m_stmt.get(), column) : 0;
    }
    std::string GetText(int column) override {
        if (!m_stmt) {
            return {};
        }
        const unsigned char* text = sqlite3_column_text(m_stmt.get(), column);
        if (text == nullptr) {
            return {};
        }
        return std::string(reinterpret_cast<const char*>(text),
                           static_cast<size_t>(sqlite3_column_bytes(m_stmt.get(), column)));
    }
    bool IsNull(int column) override {
        return !m_stmt || sqlite3_column_type(m_stmt.get(), column) == SQLITE_NULL;
    }
    bool GetBlob(std::string& out, int column) override {
        out.clear();
        if (IsNull(column)) {
            return false;
        }
        const void* bytes = sqlite3_column_blob(m_stmt.get(), column);
        int length = sqlite3_column_bytes(m_stmt.get(), column);
        if (bytes != nullptr && length > 0) {
            out.assign(static_cast<const char*>(bytes), static_cast<size_t>(length));
        }
        return true;
    }
    void Finish() override {
        m_stmt.reset();
        m_handle.reset();
    }

private:
    std::shared_ptr<CHSQLite3::Handle> m_handle; // declared first: outlives the statement
    StmtPtr m_stmt;
};

} // namespace

CHSQLite3::~CHSQLite3() {
    Close();
}

std::shared_ptr<CHSQLite3::Handle> CHSQLite3::Current() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handle;
}

bool CHSQLite3::Open(const fs::path& file) {
    Close();
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close_v2(db);
        return false;
    }
    auto handle = std::make_shared<Handle>(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    // The first statement reads the file header: a file that is not a database fails here
    // instead of at some later query.
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL;", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    std::lock_guard<std::mutex> guard(m_lock);
    m_handle = std::move(handle);
    return true;
}

void CHSQLite3::Close() {
    std::shared_ptr<Handle> old;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        old.swap(m_handle);
    }
    // The connection closes here, or when the last running query finishes.
}

bool CHSQLite3::IsOpen() const {
    return Current() != nullptr;
}

bool CHSQLite3::TableExists(std::string_view table) {
    return QueryInt64("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?;",
                      {table}) > 0;
}

bool CHSQLite3::ColumnExists(std::string_view table, std::string_view column) {
    return QueryInt64("SELECT count(*) FROM pragma_table_info(?) WHERE name=?;", {table, column}) >
           0;
}

bool CHSQLite3::Exec(std::string_view sql, const SqlArgs& args) {
    auto handle = Current();
    if (!handle) {
        return false;
    }
    StmtPtr stmt = handle->Prepare(sql, args);
    if (!stmt) {
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

int64_t CHSQLite3::QueryInt64(std::string_view sql, const SqlArgs& args) {
    auto handle = Current();
    if (!handle) {
        return 0;
    }
    StmtPtr stmt = handle->Prepare(sql, args);
    if (!stmt || sqlite3_step(stmt.get()) != SQLITE_ROW) {
        return 0;
    }
    return sqlite3_column_int64(stmt.get(), 0);
}

std::unique_ptr<ISQLite3Rows> CHSQLite3::Query(std::string_view sql, const SqlArgs& args) {
    auto handle = Current();
    if (!handle) {
        return nullptr;
    }
    StmtPtr stmt = handle->Prepare(sql, args);
    if (!stmt) {
        return nullptr;
    }
    return std::make_unique<CHSQLite3Rows>(std::move(handle), std::move(stmt));
}

int64_t CHSQLite3::Changes() {
    auto handle = Current();
    return handle ? sqlite3_changes64(handle->db) : 0;
}

std::shared_ptr<ISQLite3> CreateISQLite3() {
    return std::make_shared<CHSQLite3>();
}
