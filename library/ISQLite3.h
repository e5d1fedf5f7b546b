#pragma once
// The SQL engine as the library uses it. Every value travels as a bound parameter ("?" in the
// SQL text); only fixed identifiers made by the program (table names such as t160x160) are ever
// part of the SQL text. One connection may be used from several threads at once.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fs = std::filesystem;

// A bound value: NULL, integer, real, UTF-8 text or blob.
struct SqlBlob {
    std::string_view bytes;
};
using SqlValue = std::variant<std::nullptr_t, int64_t, double, std::string_view, SqlBlob>;
using SqlArgs = std::vector<SqlValue>;

class ISQLite3Rows {
public:
    virtual ~ISQLite3Rows() = default;
    // True while a row is available; call before the first row.
    virtual bool Next() = 0;
    virtual int GetInt(int column) = 0;
    virtual int64_t GetInt64(int column) = 0;
    // UTF-8 text of the column; "" for NULL (see IsNull).
    virtual std::string GetText(int column) = 0;
    virtual bool IsNull(int column) = 0;
    virtual bool GetBlob(std::string& out, int column) = 0;
    virtual void Finish() = 0;
};

class ISQLite3 {
public:
    virtual ~ISQLite3() = default;
    // Opens or creates the database file. True on success.
    virtual bool Open(const fs::path& file) = 0;
    // Checkpoints and closes; safe to call when closed.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    virtual bool TableExists(std::string_view table) = 0;
    virtual bool ColumnExists(std::string_view table, std::string_view column) = 0;
    // One statement ("begin;" and "commit;" too). True on success.
    virtual bool Exec(std::string_view sql, const SqlArgs& args = {}) = 0;
    // First column of the first row; 0 when there is no row or the statement fails.
    virtual int64_t QueryInt64(std::string_view sql, const SqlArgs& args = {}) = 0;
    // Null when the statement fails.
    virtual std::unique_ptr<ISQLite3Rows> Query(std::string_view sql, const SqlArgs& args = {}) = 0;
    // Number of rows changed by the last statement on this connection.
    virtual int64_t Changes() = 0;
};

// A new, unopened connection (serialized threading mode).
std::shared_ptr<ISQLite3> CreateISQLite3();
