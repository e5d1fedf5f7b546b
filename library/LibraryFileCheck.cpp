#include "library/LibraryFileCheck.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdio>
#include <ctime>

namespace {

// The tables a library can have; any other table means the file is not Vellumo's.
const std::set<std::string> kLibraryTables = {"config", "devices", "images",
                                              "verify", "auth",    "sqlite_sequence"};

// A read-only connection that never writes to the file, not even when it closes.
class ReadConnection {
public:
    // immutable: nothing beside the file is created either (no log, no shared-memory file);
    // only right when no log of the file exists.
    explicit ReadConnection(const fs::path& file, bool immutable = false) {
        const std::string name =
            immutable ? "file:" + UriPath(file) + "?immutable=1" : file.string();
        if (sqlite3_open_v2(name.c_str(), &m_db,
                            SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_URI,
                            nullptr) != SQLITE_OK) {
            Close();
            return;
        }
        sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        sqlite3_busy_timeout(m_db, 5000);
    }
    ~ReadConnection() { Close(); }
    ReadConnection(const ReadConnection&) = delete;
    ReadConnection& operator=(const ReadConnection&) = delete;

    sqlite3* Get() const { return m_db; }
    std::string Error() const { return m_db != nullptr ? sqlite3_errmsg(m_db) : "cannot open"; }

    // Runs a query and hands each row's first column to `row`; false on any error.
    template <class Fn> bool Rows(const char* sql, Fn row) {
        sqlite3_stmt* stmt = nullptr;
        if (m_db == nullptr || sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return false;
        }
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(stmt, 0);
            row(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
        sqlite3_finalize(stmt);
        return rc == SQLITE_DONE;
    }

private:
    static std::string UriPath(const fs::path& file) {
        std::string out;
        for (char c : fs::absolute(file).string()) {
            if (c == '%' || c == '?' || c == '#') {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
                out += hex;
            } else {
                out += c;
            }
        }
        return out;
    }
    void Close() {
        if (m_db != nullptr) {
            sqlite3_close_v2(m_db);
            m_db = nullptr;
        }
    }
    sqlite3* m_db = nullptr;
};

std::string Stamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

} // namespace

LibraryFileReport InspectLibraryFile(const fs::path& file, bool fullCheck) {
    LibraryFileReport report;
    struct stat info {};
    if (::lstat(file.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return report; // nothing there (the root itself may be unusable)
        }
        report.state = LibraryFileReport::State::NotLibrary;
        report.reason = "it cannot be read";
        return report;
    }
    if (!S_ISREG(info.st_mode)) {
        report.state = LibraryFileReport::State::NotLibrary;
        report.reason = "it is not a regular file";
        return report;
    }
    if (info.st_size == 0) {
        report.state = LibraryFileReport::State::Empty;
        return report;
    }
    struct stat log {};
    ReadConnection db(file, ::lstat((file.string() + "-wal").c_str(), &log) != 0);
    bool listed =
        db.Get() != nullptr && db.Rows("SELECT name FROM sqlite_master WHERE type='table';",
                                       [&](const char* name) { report.tables.insert(name); });
    if (!listed) {
        report.state = LibraryFileReport::State::NotLibrary;
        report.reason = "it is damaged or not a database (" + db.Error() + ")";
        return report;
    }
    for (const std::string& table : report.tables) {
        if (kLibraryTables.count(table) == 0) {
            report.state = LibraryFileReport::State::NotLibrary;
            report.reason = "it holds the table '" + table + "', so it belongs to another program";
            return report;
        }
    }
    if (fullCheck) {
        std::string verdict;
        bool checked = db.Rows("PRAGMA quick_check(1);", [&](const char* line) { verdict = line; });
        if (!checked || verdict != "ok") {
            report.state = LibraryFileReport::State::NotLibrary;
            report.reason = "it is damaged (" + (checked ? verdict : db.Error()) + ")";
            return report;
        }
    }
    for (const std::string& table : report.tables) {
        if (table == "sqlite_sequence") {
            continue;
        }
        std::string sql = "SELECT 1 FROM \"" + table + "\" LIMIT 1;";
        bool any = false;
        if (!db.Rows(sql.c_str(), [&](const char*) { any = true; })) {
            report.state = LibraryFileReport::State::NotLibrary;
            report.reason = "its table '" + table + "' cannot be read (" + db.Error() + ")";
            return report;
        }
        report.hasRows = report.hasRows || any;
    }
    report.state =
        report.tables.empty() ? LibraryFileReport::State::Empty : LibraryFileReport::State::Library;
    return report;
}

fs::path BackupLibraryFile(const fs::path& file) {
    ReadConnection source(file);
    if (source.Get() == nullptr) {
        return {};
    }
    const std::string base = file.string() + ".backup-" + Stamp();
    for (int n = 1; n < 100; ++n) {
        fs::path target = n == 1 ? fs::path(base) : fs::path(base + "-" + std::to_string(n));
        // Created exclusively, private like the library itself.
        int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return {};
        }
        ::close(fd);
        sqlite3* copy = nullptr;
        bool ok =
            sqlite3_open_v2(target.c_str(), &copy, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
        if (ok) {
            sqlite3_backup* backup = sqlite3_backup_init(copy, "main", source.Get(), "main");
            ok = backup != nullptr && sqlite3_backup_step(backup, -1) == SQLITE_DONE;
            ok = sqlite3_backup_finish(backup) == SQLITE_OK && ok;
        }
        ok = sqlite3_close_v2(copy) == SQLITE_OK && ok;
        if (!ok) {
            ::unlink(target.c_str());
            return {};
        }
        return target;
    }
    return {};
}

std::vector<std::string> LibraryIntegrityProblems(const fs::path& file) {
    std::vector<std::string> problems;
    ReadConnection db(file);
    bool checked = db.Get() != nullptr && db.Rows("PRAGMA integrity_check;", [&](const char* line) {
        if (std::string(line) != "ok") {
            problems.emplace_back(line);
        }
    });
    if (!checked) {
        problems.push_back("the library file cannot be checked: " + db.Error());
    }
    return problems;
}
