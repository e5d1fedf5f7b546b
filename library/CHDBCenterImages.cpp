// Image records: storing received files, duplicates, device links, reads, statistics, removal.

#include "library/CHDBCenter.h"

#include "library/CHSqlTransaction.h"
#include "library/ImageFileCheck.h"
#include "media/Base64.h"
#include "media/CHMd5.h"
#include "media/ExifReader.h"
#include "media/JsonText.h"
#include "media/TextUtil.h"
#include "platform/FileSystem.h"
#include "platform/StoredPath.h"

#include <ctime>
#include <system_error>

namespace {

struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
};

LocalDate DateOf(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        return {};
    }
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

// The received file's own name, made safe for the stored path form ('\' separates components
// there) and for the file system.
std::string StoredFileName(const fs::path& source) {
    std::string name = source.filename().string();
    for (char& ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (ch == '\\' || c < 0x20 || c == 0x7F) {
            ch = '_';
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "image.jpg";
    }
    return name;
}

// Members of the caller's document, replaced when they have another type (jsoncpp throws on
// member access to a non-object and on append to a non-array).
Json::Value& ObjectMember(Json::Value& object, const std::string& name) {
    Json::Value& member = object[name];
    if (!member.isObject()) {
        member = Json::Value(Json::objectValue);
    }
    return member;
}

Json::Value& ArrayMember(Json::Value& object, const char* name) {
    Json::Value& member = object[name];
    if (!member.isArray()) {
        member = Json::Value(Json::arrayValue);
    }
    return member;
}

} // namespace

std::string CHDBCenter::GetDeviceFolder(const std::string& key) {
    return SanitizeFileName(GetDeviceName(key));
}

bool CHDBCenter::FindRecord(Pid pid, ImageRecord& out) {
    std::lock_guard<std::mutex> guard(m_imageLock);
    auto it = m_records.find(pid);
    if (it == m_records.end()) {
        return false;
    }
    out = it->second;
    return true;
}

std::vector<std::string> CHDBCenter::ForgetRecord(Pid pid) {
    std::vector<std::string> devices;
    std::lock_guard<std::mutex> guard(m_imageLock);
    auto it = m_records.find(pid);
    if (it != m_records.end()) {
        auto digest = m_byMd5.find(it->second.md5);
        if (digest != m_byMd5.end() && digest->second == pid) {
            m_byMd5.erase(digest);
        }
        m_records.erase(it);
    }
    for (auto& [device, pids] : m_devices) {
        if (pids.erase(pid) != 0) {
            devices.push_back(device);
        }
    }
    return devices;
}

void CHDBCenter::ForgetVerifyEntries(Pid pid) {
    std::lock_guard<std::mutex> guard(m_verifyLock);
    for (auto it = m_verify.begin(); it != m_verify.end();) {
        it = it->second == pid ? m_verify.erase(it) : std::next(it);
    }
}

Pid CHDBCenter::AddImage(const fs::path& source, const std::string& md5,
                         const std::string& deviceKey) {
    if (!IsOpen()) {
        return 0;
    }
    std::string digest = md5;
    int64_t size = 0;
    if (digest.empty()) {
        if (!Md5FileText(source.string(), digest, &size)) {
            return 0;
        }
    } else {
        size = FileSize64(source);
    }
    return StoreImage(source, digest, size, deviceKey, std::string());
}

Pid CHDBCenter::StoreQueued(const CHImportQueue::Job& job) {
    // An upload that arrives while the storage root moves is stored once the library is open
    // again, not dropped.
    if (!WaitUntilOpen()) {
        return 0;
    }
    return StoreImage(job.file, job.md5, job.size, job.deviceKey, job.token);
}

void CHDBCenter::RecordDuplicate(Pid pid, const std::string& deviceKey, const std::string& token) {
    LinkDeviceImage(deviceKey, pid);
    if (token.empty()) {
        return;
    }
    // Only while the photo is still there (the caller holds the repository lock, so no
    // deletion runs meanwhile): a token of a photo the PC lacks would make the phone skip it.
    ImageRecord record;
    if (!FindRecord(pid, record)) {
        return;
    }
    if (Write("REPLACE INTO verify(md5, pid) VALUES(?, ?); ", {token, pid})) {
        std::lock_guard<std::mutex> guard(m_verifyLock);
        m_verify[token] = pid;
    }
}

Pid CHDBCenter::StoreImage(const fs::path& source, const std::string& md5, int64_t size,
                           const std::string& deviceKey, const std::string& token) {
    std::unique_lock<std::mutex> repos(m_reposLock);
    if (!IsOpen()) {
        return 0; // nothing is moved while no library is open
    }
    Pid known = 0;
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        auto it = m_byMd5.find(md5);
        if (it != m_byMd5.end()) {
            known = it->second;
        }
    }
    if (known != 0) {
        RecordDuplicate(known, deviceKey, token);
        repos.unlock();
        NotifyDeviceStats(deviceKey);
        return known; // the received file is left where it is
    }

    Json::Value exif;
    if (!IsCompleteImageFile(source) || !ReadExif(source, exif)) {
        return 0;
    }
    const int64_t time = JsonAsInt64(JsonMember(exif, "TakenTime"));
    const LocalDate date = DateOf(time);

    const fs::path reposPath = GetReposPath();
    fs::path folder;
    if (deviceKey.empty()) {
        char day[32];
        std::snprintf(day, sizeof day, "%04d-%02d-%02d", date.year, date.month, date.day);
        folder = reposPath / "local" / day;
    } else {
        folder = reposPath / GetDeviceFolder(deviceKey);
    }
    const fs::path full = MakeUniqueName(folder / StoredFileName(source));
    const std::string stored = FsToStoredPath(reposPath, full);
    if (stored.empty()) {
        return 0;
    }
    std::error_code ec;
    if (fs::create_directories(folder, ec)) {
        // A new folder's own name must reach the disk as well.
        for (fs::path up = folder.parent_path(); up != reposPath.parent_path() && !up.empty();
             up = up.parent_path()) {
            MarkForSync(up);
        }
    }
    const bool copy = deviceKey == kLocalKey;
    if (!(copy ? CopyFileTo(source, full) : MoveFileTo(source, full))) {
        return 0;
    }
    // The photo's bytes reach the disk before the row that records it; its name in the folder
    // and the row are flushed together with those of other photos (SyncStored) before anyone
    // is told it is stored.
    bool synced = SyncPath(full);
    MarkForSync(folder);

    Pid pid = 0;
    {
        CHSqlTransaction tx(*m_db, m_txLock);
        if (tx.Ok()) {
            const std::string exifText = JsonCompact(exif);
            if (auto rows = m_db->Query("INSERT INTO images(md5, time, path, exif, source, size) "
                                        "VALUES(?, ?, ?, ?, ?, ?) RETURNING pid; ",
                                        {md5, time, stored, exifText, deviceKey, size})) {
                if (rows->Next()) {
                    pid = rows->GetInt64(0);
                }
                while (rows->Next()) {
                }
                rows->Finish();
            }
            bool ok = synced && pid > 0;
            if (ok && !deviceKey.empty()) {
                ok = m_db->Exec("REPLACE INTO devices(device, pid) VALUES(?, ?)", {deviceKey, pid});
            }
            if (ok && !token.empty()) {
                ok = m_db->Exec("REPLACE INTO verify(md5, pid) VALUES(?, ?); ", {token, pid});
            }
            if (!ok || !tx.Commit()) {
                pid = 0;
            }
        }
    }
    if (pid == 0) {
        // No row: the file goes back where it came from, so nothing is orphaned or lost. Should
        // its old name have been taken meanwhile, it goes next to it.
        if (copy) {
            fs::remove(full, ec);
        } else if (!MoveFileTo(full, source)) {
            MoveFileTo(full, MakeUniqueName(source));
        }
        return 0;
    }

    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        ImageRecord& record = m_records[pid];
        record.pid = pid;
        record.time = time;
        record.md5 = md5;
        record.path = stored;
        record.source = deviceKey;
        m_byMd5.emplace(record.md5, pid);
        if (!deviceKey.empty()) {
            m_devices[deviceKey].insert(pid);
        }
    }
    if (!token.empty()) {
        std::lock_guard<std::mutex> guard(m_verifyLock);
        m_verify[token] = pid;
    }
    m_indexes.AddTimePid(date.year, date.month, date.day, pid);
    repos.unlock();
    NotifyDeviceStats(deviceKey);
    return pid;
}

int CHDBCenter::QueueImport(const fs::path& file, const std::string& deviceKey,
                            ImportProgress progress, intptr_t user, const std::string& token) {
    return QueueImportDone(file, deviceKey, std::move(progress), user, token, nullptr);
}

int CHDBCenter::QueueImportDone(const fs::path& file, const std::string& deviceKey,
                                ImportProgress progress, intptr_t user, const std::string& token,
                                ImportDone done) {
    CHImportQueue::Job job;
    job.file = file;
    job.deviceKey = deviceKey;
    job.token = token;
    job.user = user;
    job.progress = std::move(progress);
    job.done = std::move(done);
    m_imports.Push(std::move(job));
    return 1;
}

void CHDBCenter::LinkDeviceImage(const std::string& key, Pid pid) {
    if (key.empty() || !IsOpen()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        if (m_records.count(pid) == 0) {
            return; // never link a device to a photo the library does not hold
        }
        auto it = m_devices.find(key);
        if (it != m_devices.end() && it->second.count(pid) != 0) {
            return;
        }
    }
    {
        std::lock_guard<std::recursive_mutex> guard(m_txLock);
        auto rows = m_db->Query("SELECT pid FROM devices WHERE device=? AND pid=?", {key, pid});
        if (!rows) {
            return;
        }
        if (!rows->Next()) {
            rows->Finish();
            m_db->Exec("REPLACE INTO devices(device, pid) VALUES(?, ?)", {key, pid});
        }
    }
    std::lock_guard<std::mutex> guard(m_imageLock);
    if (m_records.count(pid) != 0) {
        m_devices[key].insert(pid);
    }
}

bool CHDBCenter::DeviceHasImage(const std::string& key, Pid pid) {
    std::lock_guard<std::mutex> guard(m_imageLock);
    auto it = m_devices.find(key);
    return it != m_devices.end() && it->second.count(pid) != 0;
}

int CHDBCenter::VerifyMd5List(const Json::Value& tokens, Json::Value& out) {
    if (!tokens.isArray()) {
        return 1;
    }
    std::lock_guard<std::mutex> guard(m_verifyLock);
    for (const Json::Value& element : tokens) {
        const std::string token = element.isString() ? element.asString() : std::string();
        auto it = m_verify.find(token);
        if (it == m_verify.end()) {
            continue;
        }
        if (!out.isObject()) {
            out = Json::Value(Json::objectValue); // an empty answer stays what the caller gave
        }
        out[token] = Json::Int64(it->second);
    }
    return 1;
}

Pid CHDBCenter::FindPidByMd5(const std::string& token) {
    std::lock_guard<std::mutex> guard(m_verifyLock);
    auto it = m_verify.find(token);
    return it == m_verify.end() ? 0 : it->second;
}

fs::path CHDBCenter::GetImagePath(Pid pid) {
    std::string stored;
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        auto it = m_records.find(pid);
        if (it == m_records.end()) {
            return {};
        }
        stored = it->second.path;
    }
    return StoredToFsPath(GetReposPath(), stored);
}

Json::Value CHDBCenter::GetExif(Pid pid) {
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        if (m_records.count(pid) == 0) {
            return Json::Value();
        }
    }
    Json::Value exif;
    if (auto rows = m_db->Query("SELECT exif FROM images WHERE pid = ?; ", {pid})) {
        if (rows->Next() && !JsonParse(rows->GetText(0), exif)) {
            exif = Json::Value();
        }
    }
    return exif;
}

int64_t CHDBCenter::GetTakenTime(Pid pid) {
    return JsonAsInt64(JsonMember(GetExif(pid), "TakenTime"));
}

void CHDBCenter::GetStatistics(int& count, int64_t& bytes, const std::string* deviceKey) {
    count = 0;
    bytes = 0;
    if (deviceKey == nullptr) {
        count = static_cast<int>(m_db->QueryInt64("SELECT count(pid) FROM images"));
        bytes = m_db->QueryInt64("SELECT sum(size) FROM images");
        return;
    }
    if (auto rows = m_db->Query("SELECT sum(images.size), count(images.pid) FROM devices LEFT "
                                "JOIN images ON devices.pid=images.pid WHERE devices.device=?;",
                                {*deviceKey})) {
        if (rows->Next()) {
            bytes = rows->GetInt64(0);
            count = rows->GetInt(1);
        }
    }
}

int CHDBCenter::GetDevicesJson(Json::Value& out) {
    if (!out.isObject()) {
        out = Json::Value(Json::objectValue);
    }
    std::lock_guard<std::mutex> images(m_imageLock);
    {
        std::lock_guard<std::mutex> auth(m_authLock);
        for (const auto& [key, pids] : m_devices) {
            auto entry = m_auth.find(key);
            if (key == kLocalKey || entry == m_auth.end()) {
                continue;
            }
            Json::Value& device = ObjectMember(out, key);
            device["name"] = Base64Encode(entry->second.name);
            for (Pid pid : pids) {
                ArrayMember(device, "imgs").append(Json::Int64(pid));
            }
        }
    }
    Json::Value& local = ObjectMember(out, kLocalKey);
    local["name"] = Base64Encode("电脑相册");
    auto it = m_devices.find(kLocalKey);
    if (it != m_devices.end()) {
        for (Pid pid : it->second) {
            ArrayMember(local, "imgs").append(Json::Int64(pid));
        }
    }
    return 1;
}

int CHDBCenter::FindMissingFiles(std::vector<fs::path>& out) {
    out.clear();
    std::vector<std::pair<Pid, std::string>> stored;
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        stored.reserve(m_records.size());
        for (const auto& [pid, record] : m_records) {
            stored.emplace_back(pid, record.path);
        }
    }
    // The file system is asked outside the lock: imports need not wait for 100 000 stats.
    const fs::path repos = GetReposPath();
    std::vector<std::pair<Pid, std::string>> recased;
    for (const auto& [pid, path] : stored) {
        fs::path full = StoredToFsPath(repos, path);
        std::error_code ec;
        if (full.empty() || fs::exists(full, ec)) {
            continue;
        }
        // A path that differs from the file only in letter case still finds it; the record
        // takes the name the file has here.
        fs::path found = FindStoredPathIgnoringCase(repos, path);
        std::string foundStored = found.empty() ? std::string() : FsToStoredPath(repos, found);
        if (!foundStored.empty()) {
            recased.emplace_back(pid, std::move(foundStored));
        } else {
            out.push_back(std::move(full));
        }
    }
    for (const auto& [pid, path] : recased) {
        UpdateStoredPath(pid, path);
    }
    return 1;
}

void CHDBCenter::UpdateStoredPath(Pid pid, const std::string& path) {
    std::lock_guard<std::mutex> repos(m_reposLock);
    if (!Write("UPDATE images SET path = ? WHERE pid = ?;", {path, pid})) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_imageLock);
    auto it = m_records.find(pid);
    if (it != m_records.end()) {
        it->second.path = path;
    }
}

int CHDBCenter::RemoveImageByPath(const fs::path& fullPath) {
    // Waits for a rename in progress: its files vanish from the old folder before the paths of
    // their records change.
    std::unique_lock<std::mutex> repos(m_reposLock);
    const std::string stored = FsToStoredPath(GetReposPath(), fullPath);
    if (stored.empty()) {
        return 0;
    }
    // Only a file that is really gone takes its image along. The removal was seen a moment ago;
    // a file that is back by now (an editor that deletes and rewrites, a rename undone) or that
    // cannot be looked at stays in the library, and stays where it is.
    std::error_code missing;
    if (fs::symlink_status(fullPath, missing).type() != fs::file_type::not_found) {
        return 0;
    }
    Pid pid = m_db->QueryInt64("SELECT pid FROM images WHERE path=?; ", {stored});
    ImageRecord record;
    if (pid == 0 || !FindRecord(pid, record)) {
        return 0;
    }
    {
        CHSqlTransaction tx(*m_db, m_txLock);
        if (!tx.Ok() || !m_db->Exec("DELETE FROM verify WHERE pid=?", {pid}) ||
            !m_db->Exec("DELETE FROM images WHERE pid = ?", {pid}) ||
            !m_db->Exec("DELETE FROM devices WHERE pid = ?", {pid}) || !tx.Commit()) {
            return 0;
        }
    }
    ForgetVerifyEntries(pid);
    const LocalDate date = DateOf(record.time);
    m_indexes.RemoveTimePid(pid, date.year, date.month, date.day);
    SaveDirtyIndexes(false);
    std::vector<std::string> devices = ForgetRecord(pid);
    m_thumbs.DeleteThumbnails(pid);
    repos.unlock(); // observers may call back into the library
    if (devices.empty()) {
        NotifyDeviceStats("");
    }
    for (const std::string& device : devices) {
        NotifyDeviceStats(device);
    }
    return 0;
}

int CHDBCenter::DeleteImage(Pid pid) {
    std::unique_lock<std::mutex> repos(m_reposLock);
    m_indexes.RemoveTrashMember(pid, true);
    ForgetVerifyEntries(pid);
    ImageRecord record;
    if (!FindRecord(pid, record)) {
        Write("DELETE FROM verify WHERE pid=?", {pid});
        SaveDirtyIndexes(false);
        return 0;
    }
    {
        // The photo's verify tokens and device links go with its row: a token left behind
        // would tell the phone the PC still holds the photo.
        CHSqlTransaction tx(*m_db, m_txLock);
        if (!tx.Ok() || !m_db->Exec("DELETE FROM images WHERE pid = ?", {pid}) ||
            !m_db->Exec("DELETE FROM verify WHERE pid=?", {pid}) ||
            !m_db->Exec("DELETE FROM devices WHERE pid = ?", {pid}) || !tx.Commit()) {
            return 0;
        }
    }
    const LocalDate date = DateOf(record.time);
    m_indexes.RemoveTimePid(pid, date.year, date.month, date.day);
    m_indexes.RemoveOriginPid(pid);
    SaveDirtyIndexes(false);
    const fs::path full = StoredToFsPath(GetReposPath(), record.path);
    std::vector<std::string> devices = ForgetRecord(pid);
    m_thumbs.DeleteThumbnails(pid);
    if (!full.empty()) {
        DeleteToRecycleBin(full);
    }
    repos.unlock();
    if (devices.empty()) {
        NotifyDeviceStats("");
    }
    for (const std::string& device : devices) {
        NotifyDeviceStats(device);
    }
    return 1;
}
