#pragma once
// ISQLite3 over libsqlite3. The connection is opened in serialized threading mode, so one object
// may be used from several threads at once; each query keeps the connection alive until it is
// finished, so Close never pulls the handle from under a running query.

#include "library/ISQLite3.h"

#include <memory>
#include <mutex>

class CHSQLite3 : public ISQLite3 {
public:
    CHSQLite3() = default;
    ~CHSQLite3() override;
    CHSQLite3(const CHSQLite3&) = delete;
    CHSQLite3& operator=(const CHSQLite3&) = delete;

    bool Open(const fs::path& file) override;
    void Close() override;
    bool IsOpen() const override;
    bool TableExists(std::string_view table) override;
    bool ColumnExists(std::string_view table, std::string_view column) override;
    bool Exec(std::string_view sql, const SqlArgs& args = {}) override;
    int64_t QueryInt64(std::string_view sql, const SqlArgs& args = {}) override;
    std::unique_ptr<ISQLite3Rows> Query(std::string_view sql, const SqlArgs& args = {}) override;
    int64_t Changes() override;

    // The shared connection handle; its destructor checkpoints and closes the file.
    struct Handle;

private:
    std::shared_ptr<Handle> Current() const;

    mutable std::mutex m_lock; // guards m_handle only; SQLite serializes the calls themselves
    std::shared_ptr<Handle> m_handle;
};
