#include "library/CHDBCenter.h"

#include "library/CHSQLite3.h"
#include "library/CHSqlTransaction.h"
#include "library/LibraryFileCheck.h"
#include "media/JsonText.h"
#include "net/CHWebServer.h"
#include "pairing/MachineId.h"
#include "platform/FileSystem.h"
#include "platform/StoredPath.h"
#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The table statements, exactly as every library file has them.
constexpr const char* kCreateConfig = "CREATE TABLE config(key TEXT PRIMARY KEY, value TEXT); ";
constexpr const char* kCreateDevices = "CREATE TABLE devices(device TEXT,pid UINT64);";
constexpr const char* kCreateImages =
    "CREATE TABLE images(pid INTEGER PRIMARY KEY AUTOINCREMENT, md5 TEXT, time INTEGER, path "
    "TEXT, exif TEXT, source TEXT, size INT); ";
constexpr const char* kCreateVerify = "CREATE TABLE verify(md5 TEXT PRIMARY KEY,pid INTEGER); ";
constexpr const char* kCreateAuth =
    "CREATE TABLE auth(key TEXT PRIMARY KEY, type INT, modal TEXT, lastImport INT, lastImportPcs "
    "INT, lastImportSize INT, lastImportUsed INT ); ";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

} // namespace

CHDBCenter::CHDBCenter()
    : m_db(CreateISQLite3()), m_thumbs([this](Pid pid) { return GetImagePath(pid); }),
      m_imports([this](const CHImportQueue::Job& job) { return StoreQueued(job); },
                [this] { SaveDirtyIndexes(false); }, [this] { return SyncStored(); }),
      m_renamer([this](const CHDeviceRenamer::Job& job) { RenameDevice(job); }) {}

CHDBCenter::~CHDBCenter() {
    // Every worker is stopped and joined while the tables and the connection still exist; the
    // indexes are saved last, after the final import.
    {
        std::lock_guard<std::mutex> guard(m_openLock);
        m_stopping = true;
    }
    m_opened.notify_all();
    StopService();
    m_renamer.Stop();
    m_imports.Stop();
    m_thumbs.Shutdown();
    CloseLibrary();
}

void CHDBCenter::SetServicePort(int port) {
    if (m_serviceSlot.IsRunning()) {
        return;
    }
    m_servicePort = port < 0 ? -1 : port;
    m_server.reset();
}

CHWebServer* CHDBCenter::GetWebServer() {
    if (!m_server && m_servicePort != -1) {
        m_server = m_servicePort == -2 ? std::make_unique<CHWebServer>()
                                       : std::make_unique<CHWebServer>(m_servicePort);
    }
    return m_server.get();
}

bool CHDBCenter::IsOpen() const {
    return m_db->IsOpen();
}

void CHDBCenter::SetMachineIdSource(std::function<std::string()> source) {
    std::lock_guard<std::mutex> guard(m_machineLock);
    m_machineId = std::move(source);
}

std::string CHDBCenter::GetMachineId() {
    std::function<std::string()> source;
    {
        std::lock_guard<std::mutex> guard(m_machineLock);
        source = m_machineId;
    }
    return source ? source() : ::GetMachineId();
}

fs::path CHDBCenter::GetRootPath() const {
    std::lock_guard<std::mutex> guard(m_pathLock);
    return m_root;
}

fs::path CHDBCenter::GetReposPath() const {
    std::lock_guard<std::mutex> guard(m_pathLock);
    return m_repos;
}

bool CHDBCenter::WaitIdle(int timeoutMs) {
    return m_imports.WaitIdle(timeoutMs) && m_renamer.WaitIdle(timeoutMs);
}

void CHDBCenter::StartService() {
    if (m_stopping) {
        return;
    }
    CHWebServer* server = GetWebServer();
    if (server != nullptr) {
        m_serviceSlot.Start([server] { server->Run(); });
    }
}

void CHDBCenter::StopService() {
    if (m_server) {
        m_server->Stop(); // Run returns at once when Stop came first
    }
    m_serviceSlot.Join();
}

void CHDBCenter::Notify(int code, std::shared_ptr<const void> data) {
    if (CNotifyHub* hub = GetNotifyHub()) {
        hub->Notify(code, std::move(data));
    }
}

void CHDBCenter::NotifyDeviceStats(const std::string& key) {
    if (CNotifyHub* hub = GetNotifyHub()) {
        hub->NotifyDeviceStats(key);
    }
}

bool CHDBCenter::Write(std::string_view sql, const SqlArgs& args) {
    std::lock_guard<std::recursive_mutex> guard(m_txLock);
    return m_db->Exec(sql, args);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void CHDBCenter::ClearMemory() {
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        m_byMd5.clear();
        m_records.clear();
        m_devices.clear();
    }
    {
        std::lock_guard<std::mutex> guard(m_verifyLock);
        m_verify.clear();
    }
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        m_auth.clear();
    }
    m_indexes.Clear();
}

bool CHDBCenter::CreateMissingTables() {
    bool ok = true;
    const std::pair<const char*, const char*> tables[] = {
        {"images", kCreateImages},
        {"verify", kCreateVerify},
        {"auth", kCreateAuth},
        {"devices", kCreateDevices},
    };
    for (const auto& [name, statement] : tables) {
        if (!m_db->TableExists(name) && !Write(statement)) {
            ok = false;
        }
    }
    return ok;
}

void CHDBCenter::LoadTables() {
    // Sized up front: rehashing 100 000 keys costs more than reading them.
    const size_t expected =
        static_cast<size_t>(std::max<int64_t>(0, m_db->QueryInt64("SELECT count(*) FROM images;")));
    std::map<Pid, ImageRecord> records;
    std::unordered_map<std::string_view, Pid> byMd5;
    byMd5.reserve(expected);
    if (auto rows = m_db->Query("SELECT pid, md5, time, path, source FROM images; ")) {
        while (rows->Next()) {
            ImageRecord record;
            record.pid = rows->GetInt64(0);
            record.md5 = rows->GetText(1);
            record.time = rows->GetInt64(2);
            record.path = rows->GetText(3);
            record.source = rows->GetText(4);
            if (record.pid == 0) {
                continue;
            }
            const Pid pid = record.pid;
            auto stored = records.emplace_hint(records.end(), pid, std::move(record));
            byMd5.emplace(stored->second.md5, pid); // the first row of a digest wins
        }
    }

    std::map<std::string, std::set<Pid>> devices;
    // Links to rows that are gone are skipped (what a join with images would do, at a third
    // of the cost).
    if (auto rows = m_db->Query("SELECT device, pid FROM devices;")) {
        std::string device;
        std::set<Pid>* set = nullptr;
        while (rows->Next()) {
            Pid pid = rows->GetInt64(1);
            if (pid == 0 || records.count(pid) == 0) {
                continue;
            }
            std::string name = rows->GetText(0);
            if (set == nullptr || name != device) {
                device = std::move(name);
                set = &devices[device];
            }
            set->emplace_hint(set->end(), pid);
        }
    }

    // A token of a photo that is no longer in the library would make the phone skip a photo
    // the PC does not have: such rows are not loaded.
    std::unordered_map<std::string, Pid> verify;
    verify.reserve(expected);
    if (auto rows = m_db->Query("SELECT md5, pid FROM verify; ")) {
        while (rows->Next()) {
            Pid pid = rows->GetInt64(1);
            if (records.count(pid) != 0) {
                verify[rows->GetText(0)] = pid;
            }
        }
    }

    std::map<std::string, AuthEntry> auth;
    if (auto rows = m_db->Query("SELECT key, type, modal FROM auth;")) {
        while (rows->Next()) {
            std::string key = rows->GetText(0);
            auth[key] = AuthEntry{rows->GetInt(1), rows->GetText(2)};
            devices[key]; // every authorised device has a (maybe empty) set
        }
    }

    bool timeLoaded = false;
    for (int i = 0; i < CHBrowseIndexes::kTreeCount; ++i) {
        Json::Value tree;
        if (ReadConfigJson(CHBrowseIndexes::kKeys[i], tree)) {
            m_indexes.SetTree(i, std::move(tree));
            timeLoaded = timeLoaded || i == CHBrowseIndexes::kTime;
        }
    }
    if (!timeLoaded && !records.empty()) {
        // The time line was never saved (or cannot be read): file every photo by its date
        // again rather than leave the library unbrowsable.
        for (const auto& [pid, record] : records) {
            std::time_t t = static_cast<std::time_t>(record.time);
            std::tm local{};
            if (localtime_r(&t, &local) != nullptr) {
                m_indexes.AddTimePid(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, pid);
            }
        }
    }

    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        m_records.swap(records);
        m_byMd5.swap(byMd5);
        m_devices.swap(devices);
    }
    {
        std::lock_guard<std::mutex> guard(m_verifyLock);
        m_verify.swap(verify);
    }
    std::lock_guard<std::mutex> guard(m_authLock);
    m_auth.swap(auth);
}

namespace {

// The library holds the pairing password and the device keys: only its owner may read it.
void MakePrivateFile(const fs::path& file, bool create) {
    int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
    int fd = ::open(file.c_str(), flags, 0600);
    if (fd < 0) {
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_uid == ::geteuid() && (info.st_mode & 077) != 0) {
        ::fchmod(fd, info.st_mode & 0700);
    }
    ::close(fd);
}

} // namespace

std::string CHDBCenter::LastOpenError() {
    std::lock_guard<std::mutex> guard(m_pathLock);
    return m_openError;
}

bool CHDBCenter::UpgradeImagesTable() {
    // Rows are copied into a table of today's layout; the old table goes only once every row
    // is in the new one, all in one transaction.
    std::set<std::string> columns;
    if (auto rows = m_db->Query("SELECT name FROM pragma_table_info('images');")) {
        while (rows->Next()) {
            columns.insert(rows->GetText(0));
        }
    }
    if (columns.empty() || columns.count("time") != 0) {
        return !columns.empty() || !m_db->TableExists("images");
    }
    auto pick = [&](const char* column, const char* fallback) {
        return columns.count(column) != 0 ? std::string(column) : std::string(fallback);
    };
    const std::string time =
        columns.count("exif") != 0
            ? "CASE WHEN json_valid(exif) THEN "
              "coalesce(CAST(json_extract(exif, '$.TakenTime') AS INTEGER), 0) ELSE 0 END"
            : "0";
    const std::string copy =
        "INSERT INTO images(pid, md5, time, path, exif, source, size) SELECT " +
        pick("pid", "NULL") + ", " + pick("md5", "''") + ", " + time + ", " + pick("path", "''") +
        ", " + pick("exif", "NULL") + ", " + pick("source", "''") + ", " + pick("size", "0") +
        " FROM images_before_upgrade;";
    CHSqlTransaction tx(*m_db, m_txLock);
    int64_t before = m_db->QueryInt64("SELECT count(*) FROM images;");
    bool ok = tx.Ok() && m_db->Exec("ALTER TABLE images RENAME TO images_before_upgrade;") &&
              m_db->Exec(kCreateImages) && m_db->Exec(copy) &&
              m_db->QueryInt64("SELECT count(*) FROM images;") == before &&
              m_db->Exec("DROP TABLE images_before_upgrade;");
    return ok && tx.Commit();
}

bool CHDBCenter::PrepareTables(const fs::path& file, bool hasRows, std::string& error) {
    bool imagesOld = false;
    if (m_db->TableExists("images")) {
        imagesOld = !m_db->ColumnExists("images", "time");
    }
    bool missing = false;
    for (const char* table : {"config", "images", "verify", "auth", "devices"}) {
        missing = missing || !m_db->TableExists(table);
    }
    if (!missing && !imagesOld) {
        return true;
    }
    // A copy of the file as it was comes before any change of its tables.
    if (hasRows && BackupLibraryFile(file).empty()) {
        error = "a backup copy of it could not be made before upgrading it";
        return false;
    }
    if (!m_db->TableExists("config") && !Write(kCreateConfig)) {
        error = "its settings table cannot be created";
        return false;
    }
    // Libraries that knew devices only by images.source gain the devices table.
    if (!m_db->TableExists("devices") && Write(kCreateDevices) && m_db->TableExists("images")) {
        Write("INSERT INTO devices(device, pid) SELECT source, pid FROM images WHERE "
              "source <> ? AND source <> ?;",
              {std::string_view(""), std::string_view("local")});
    }
    if (imagesOld && !UpgradeImagesTable()) {
        error = "its images could not be copied into the current layout";
        return false;
    }
    CreateMissingTables();
    return true;
}

int CHDBCenter::OpenLibrary(const fs::path& root) {
    {
        std::lock_guard<std::mutex> repos(m_reposLock);
        if (m_db->IsOpen()) {
            SaveDirtyIndexes(false);
            m_db->Close();
        }
        // Nothing of a library opened before may mix with this one, nor a thumbnail store
        // opened elsewhere meanwhile.
        m_thumbs.CloseStores();
        ClearMemory();
        {
            std::lock_guard<std::mutex> guard(m_pathLock);
            m_root = root;
            m_repos = root / kReposFolderName;
            m_thumb = root / kThumbFolderName;
            m_openError.clear();
        }
        m_thumbs.SetFolder(root / kThumbFolderName);
        m_thumbs.CloseStores();

        const fs::path file = root / kLibraryFileName;
        // A file that is not a usable library is refused before anything writes to it: no
        // table of it is created, changed or dropped, and no empty library runs in its place.
        LibraryFileReport report = InspectLibraryFile(file, true);
        if (report.state == LibraryFileReport::State::NotLibrary) {
            std::lock_guard<std::mutex> guard(m_pathLock);
            m_openError = "The library file " + file.string() +
                          " cannot be used: " + report.reason + ". It was left unchanged.";
            return 0;
        }
        MakePrivateFile(file, report.state == LibraryFileReport::State::Missing);
        if (m_db->Open(file)) {
            std::string error;
            if (!PrepareTables(file, report.hasRows, error)) {
                m_db->Close();
                if (report.state == LibraryFileReport::State::Missing) {
                    std::error_code ec;
                    fs::remove(file, ec); // only the empty file just created
                }
                std::lock_guard<std::mutex> guard(m_pathLock);
                m_openError =
                    "The library file " + file.string() + " cannot be used: " + error + ".";
                return 0;
            }
            LoadTables();
        }
    }
    { std::lock_guard<std::mutex> guard(m_openLock); }
    m_opened.notify_all();
    if (IsOpen()) {
        ApplyAuthWhileClosed();
    }
    StartService();
    return 1;
}

bool CHDBCenter::WaitUntilOpen() {
    // Bounded: a root that cannot be opened must not hold the queue for ever.
    std::unique_lock<std::mutex> lock(m_openLock);
    m_opened.wait_for(lock, std::chrono::seconds(30),
                      [this] { return m_stopping || m_db->IsOpen(); });
    return !m_stopping && m_db->IsOpen();
}

void CHDBCenter::MarkForSync(const fs::path& folder) {
    std::lock_guard<std::mutex> guard(m_syncLock);
    m_unsyncedFolders.insert(folder);
}

bool CHDBCenter::SyncStored() {
    // Commits are written to the log without waiting for the disk; one flush of the log (and
    // of the folders that gained photos) then makes every commit since the last one durable,
    // however many photos were stored meanwhile.
    std::set<fs::path> folders;
    {
        std::lock_guard<std::mutex> guard(m_syncLock);
        folders.swap(m_unsyncedFolders);
    }
    bool ok = true;
    for (const fs::path& folder : folders) {
        ok = SyncPath(folder) && ok;
    }
    const fs::path file = GetRootPath() / kLibraryFileName;
    ok = SyncPath(file) && ok;
    const fs::path log = file.string() + "-wal";
    std::error_code ec;
    if (fs::exists(log, ec)) {
        ok = SyncPath(log) && ok;
    }
    return ok;
}

int CHDBCenter::CloseLibrary() {
    std::lock_guard<std::mutex> repos(m_reposLock);
    // Photos stored since the last save stay browsable after a shutdown or a root move.
    SaveDirtyIndexes(false);
    m_db->Close();
    // No thumbnail store opens at the old place while the root moves; OpenLibrary sets the
    // new one.
    m_thumbs.SetFolder({});
    m_thumbs.CloseStores();
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Configuration

std::string CHDBCenter::GetConfig(const std::string& key) {
    if (auto rows = m_db->Query("SELECT value FROM config WHERE key = ?; ", {key})) {
        if (rows->Next()) {
            return rows->GetText(0);
        }
    }
    return {};
}

int CHDBCenter::SetConfig(const std::string& key, const std::string& value) {
    return Write("REPLACE INTO config(key, value) VALUES(?, ?); ", {key, value}) ? 1 : 0;
}

bool CHDBCenter::ReadConfigJson(const std::string& key, Json::Value& value) {
    if (auto rows = m_db->Query("SELECT value FROM config WHERE key = ?; ", {key})) {
        if (rows->Next()) {
            return JsonParse(rows->GetText(0), value);
        }
    }
    return false;
}

bool CHDBCenter::WriteConfigText(const std::string& key, const std::string& text) {
    return Write("REPLACE INTO config(key, value) VALUES(?, ?); ", {key, text});
}

bool CHDBCenter::WriteConfigJson(const std::string& key, const Json::Value& value) {
    return WriteConfigText(key, JsonCompact(value)); // compact text ends with a line feed
}

void CHDBCenter::SaveDirtyIndexes(bool all) {
    // One writer at a time, so an older snapshot never overwrites a newer one.
    std::lock_guard<std::recursive_mutex> guard(m_txLock);
    auto texts = m_indexes.TakeDirty(all);
    if (texts.empty()) {
        return;
    }
    auto markAll = [&] {
        for (const auto& [key, text] : texts) {
            for (int i = 0; i < CHBrowseIndexes::kTreeCount; ++i) {
                if (key == CHBrowseIndexes::kKeys[i]) {
                    m_indexes.MarkDirty(i);
                }
            }
        }
    };
    if (!m_db->IsOpen()) {
        markAll();
        return;
    }
    CHSqlTransaction tx(*m_db, m_txLock);
    bool ok = tx.Ok();
    for (const auto& [key, text] : texts) {
        ok = ok && WriteConfigText(key, text);
    }
    if (!ok || !tx.Commit()) {
        markAll();
    }
}

int CHDBCenter::SaveIndexes() {
    SaveDirtyIndexes(true);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Consistency check

std::vector<std::string> CHDBCenter::CheckLibrary() {
    std::vector<std::string> problems;
    if (!m_db->IsOpen()) {
        problems.push_back("the library file is not open");
        return problems;
    }
    const fs::path repos = GetReposPath();
    std::unordered_set<Pid> pids;
    std::map<std::string, Pid> paths;
    std::map<std::string, Pid> digests;
    auto rows = m_db->Query("SELECT pid, path, md5 FROM images;");
    if (!rows) {
        problems.push_back("the images table cannot be read");
        return problems;
    }
    while (rows->Next()) {
        Pid pid = rows->GetInt64(0);
        std::string path = rows->GetText(1);
        std::string md5 = rows->GetText(2);
        pids.insert(pid);
        fs::path full = StoredToFsPath(repos, path);
        std::error_code ec;
        if (full.empty()) {
            problems.push_back(Format(
                "image %" PRId64 ": path '%s' names no file in the repository", pid, path.c_str()));
        } else if (!fs::is_regular_file(full, ec)) {
            problems.push_back(
                Format("image %" PRId64 ": file missing: %s", pid, full.string().c_str()));
        }
        if (auto [it, added] = paths.emplace(path, pid); !added) {
            problems.push_back(Format("images %" PRId64 " and %" PRId64 " share the path '%s'",
                                      it->second, pid, path.c_str()));
        }
        if (auto [it, added] = digests.emplace(md5, pid); !added) {
            problems.push_back(Format("images %" PRId64 " and %" PRId64
                                      " have the same content digest %s",
                                      it->second, pid, md5.c_str()));
        }
    }
    if (auto verify = m_db->Query("SELECT md5, pid FROM verify;")) {
        while (verify->Next()) {
            Pid pid = verify->GetInt64(1);
            if (pids.count(pid) == 0) {
                problems.push_back(Format("verify token '%s' points at missing image %" PRId64,
                                          verify->GetText(0).c_str(), pid));
            }
        }
    }
    std::set<std::pair<std::string, Pid>> links;
    if (auto devices = m_db->Query("SELECT device, pid FROM devices;")) {
        while (devices->Next()) {
            std::string device = devices->GetText(0);
            Pid pid = devices->GetInt64(1);
            if (pids.count(pid) == 0) {
                problems.push_back(
                    Format("device '%s' is linked to missing image %" PRId64, device.c_str(), pid));
            } else if (!links.emplace(device, pid).second) {
                problems.push_back(Format("device '%s' is linked to image %" PRId64 " twice",
                                          device.c_str(), pid));
            }
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        for (const auto& [device, set] : m_devices) {
            for (Pid pid : set) {
                if (links.count({device, pid}) == 0) {
                    problems.push_back(Format("device '%s' holds image %" PRId64
                                              " in memory but not in the file",
                                              device.c_str(), pid));
                }
            }
        }
        for (const auto& [device, pid] : links) {
            auto set = m_devices.find(device);
            if (set == m_devices.end() || set->second.count(pid) == 0) {
                problems.push_back(Format("device '%s' is linked to image %" PRId64
                                          " in the file but not in memory",
                                          device.c_str(), pid));
            }
        }
    }
    PidList filed;
    m_indexes.GetTimePids("", filed);
    std::unordered_set<Pid> seen;
    for (Pid pid : filed) {
        if (pids.count(pid) == 0) {
            problems.push_back(Format("the time line lists missing image %" PRId64, pid));
        } else if (!seen.insert(pid).second) {
            problems.push_back(Format("the time line lists image %" PRId64 " twice", pid));
        }
    }
    return problems;
}
