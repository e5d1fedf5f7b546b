// Device authorisations, device renames (folders and stored paths) and the import history.

#include "library/CHDBCenter.h"

#include "library/CHSqlTransaction.h"
#include "media/TextFormat.h"
#include "media/TextUtil.h"
#include "platform/FileSystem.h"
#include "platform/StoredPath.h"
#include "shell/HistoryRecord.h"
#include "shell/IObserver.h"

#include <cstdio>
#include <ctime>
#include <system_error>

namespace {

std::shared_ptr<const HistoryRecord> MakeHistory(const std::string& key, int64_t when, int pieces,
                                                 int64_t bytes, int seconds) {
    auto record = std::make_shared<HistoryRecord>();
    record->deviceKey = key;
    std::time_t t = static_cast<std::time_t>(when);
    std::tm local{};
    localtime_r(&t, &local);
    char text[128];
    std::snprintf(text, sizeof text, "时间: %04d.%02d.%02d %02d:%02d:%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    record->timeText = text;
    record->summaryText = "备份" + std::to_string(pieces) + "张, 占用空间" + FormatSize(bytes) +
                          ", 耗时" + FormatDuration(static_cast<uint32_t>(seconds));
    return record;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

int CHDBCenter::SetAuth(const std::string& key, int type, const std::string& name) {
    if (key.empty()) {
        return 0;
    }
    bool known;
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        auto it = m_auth.find(key);
        known = it != m_auth.end();
        if (known && it->second.name == name) {
            return 0; // the same phone paired again under the same name
        }
    }
    if (!known) {
        // A device paired before (and removed since) finds its photos again.
        std::vector<std::pair<std::string, Pid>> links;
        if (auto rows = m_db->Query("SELECT devices.device, images.pid FROM devices LEFT JOIN "
                                    "images ON devices.pid=images.pid WHERE device=?",
                                    {key})) {
            while (rows->Next()) {
                Pid pid = rows->GetInt64(1);
                if (pid != 0) {
                    links.emplace_back(rows->GetText(0), pid);
                }
            }
        }
        std::lock_guard<std::mutex> guard(m_imageLock);
        for (const auto& [device, pid] : links) {
            if (m_records.count(pid) != 0) {
                m_devices[device].insert(pid);
            }
        }
        m_devices[key];
    }
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        auto it = m_auth.find(key);
        if (it != m_auth.end()) {
            if (it->second.name == name) {
                return 0;
            }
            m_renamer.Push({key, it->second.name, name});
        }
        m_auth[key] = AuthEntry{type, name};
    }
    Notify(NOTIFY_DEVICES_CHANGED, nullptr);
    if (Write("REPLACE INTO auth (key, type, modal) VALUES(?, ?, ?); ",
              {key, int64_t{type}, name})) {
        return 1;
    }
    // Paired while the library is closed (the storage root is moving): written once it is
    // open again, so the phone's pairing is not lost with the reload.
    return RememberWhileClosed(key, AuthEntry{type, name}) ? 1 : 0;
}

bool CHDBCenter::RememberWhileClosed(const std::string& key, std::optional<AuthEntry> entry) {
    std::lock_guard<std::mutex> guard(m_openLock);
    if (m_db->IsOpen()) {
        return false;
    }
    m_authWhileClosed.emplace_back(key, std::move(entry));
    return true;
}

void CHDBCenter::ApplyAuthWhileClosed() {
    std::vector<std::pair<std::string, std::optional<AuthEntry>>> changes;
    {
        std::lock_guard<std::mutex> guard(m_openLock);
        changes.swap(m_authWhileClosed);
    }
    for (const auto& [key, entry] : changes) {
        if (entry) {
            SetAuth(key, entry->type, entry->name);
        } else {
            RemoveAuth(key);
        }
    }
}

int CHDBCenter::RemoveAuth(const std::string& key) {
    if (key.empty()) {
        return 0;
    }
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        m_auth.erase(key);
    }
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        m_devices.erase(key);
    }
    if (Write("DELETE FROM auth WHERE key=?; ", {key})) {
        return 1;
    }
    return RememberWhileClosed(key, std::nullopt) ? 1 : 0;
}

int CHDBCenter::GetAuthList(std::map<std::string, AuthEntry>& out) {
    std::lock_guard<std::mutex> guard(m_authLock);
    out = m_auth;
    return 1;
}

bool CHDBCenter::IsAuthorized(const std::string& key) {
    std::lock_guard<std::mutex> guard(m_authLock);
    return m_auth.count(key) != 0;
}

std::string CHDBCenter::GetDeviceName(const std::string& key) {
    if (key == kLocalKey) {
        return kLocalName;
    }
    std::lock_guard<std::mutex> guard(m_authLock);
    auto it = m_auth.find(key);
    return it == m_auth.end() ? std::string() : it->second.name;
}

int CHDBCenter::RecordImport(const std::string& key, int pieces, int64_t bytes, int seconds,
                             bool notify) {
    AuthEntry entry;
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        auto it = m_auth.find(key);
        if (it == m_auth.end()) {
            return 0;
        }
        entry = it->second;
    }
    const int64_t now = std::time(nullptr);
    // Only the history columns change: a rename written meanwhile keeps its name.
    Write("INSERT INTO auth (key, type, modal, lastImport, lastImportPcs, lastImportSize, "
          "lastImportUsed) VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT(key) DO UPDATE SET "
          "lastImport=excluded.lastImport, lastImportPcs=excluded.lastImportPcs, "
          "lastImportSize=excluded.lastImportSize, lastImportUsed=excluded.lastImportUsed; ",
          {key, int64_t{entry.type}, entry.name, now, int64_t{pieces}, bytes, int64_t{seconds}});
    if (notify) {
        Notify(NOTIFY_BACKUP_DONE, MakeHistory(key, now, pieces, bytes, seconds));
    }
    return 1;
}

int CHDBCenter::ShowLastImport(const std::string& key) {
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        if (m_auth.count(key) == 0) {
            return 0;
        }
    }
    int64_t last = 0;
    int pieces = 0;
    int64_t bytes = 0;
    int seconds = 0;
    if (auto rows = m_db->Query("SELECT lastImport, lastImportPcs, lastImportSize, "
                                "lastImportUsed FROM auth WHERE key=?",
                                {key})) {
        if (rows->Next()) {
            last = rows->GetInt64(0);
            pieces = rows->GetInt(1);
            bytes = rows->GetInt64(2);
            seconds = rows->GetInt(3);
        }
    }
    if (pieces > 0 && bytes != 0) {
        Notify(NOTIFY_BACKUP_DONE, MakeHistory(key, last, pieces, bytes, seconds));
    }
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Renames

void CHDBCenter::RenameDevice(const CHDeviceRenamer::Job& job) {
    if (!WaitUntilOpen()) {
        return;
    }
    std::lock_guard<std::mutex> repos(m_reposLock);
    if (!IsOpen()) {
        return;
    }
    // Folder names are sanitised display names: never empty, never "." or "..", never a
    // separator, so both folders lie directly inside the repository.
    const std::string oldFolder = SanitizeFileName(job.oldName);
    const std::string newFolder = SanitizeFileName(job.newName);
    const fs::path reposPath = GetReposPath();
    if (oldFolder == newFolder || reposPath.empty()) {
        return;
    }
    const fs::path oldDir = reposPath / oldFolder;
    const fs::path newDir = reposPath / newFolder;
    const std::string oldPrefix = "\\" + oldFolder + "\\";

    // The whole folder moves only when it is this device's alone: another device whose name
    // sanitises alike, or whose photos are still filed there, keeps it.
    bool shared = oldFolder == kLocalName && job.deviceKey != kLocalKey;
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        for (const auto& [pid, record] : m_records) {
            if (record.source != job.deviceKey && StartsWith(record.path, oldPrefix)) {
                shared = true;
                break;
            }
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_authLock);
        for (const auto& [key, entry] : m_auth) {
            if (key != job.deviceKey && SanitizeFileName(entry.name) == oldFolder) {
                shared = true;
            }
        }
    }
    std::error_code ec;
    if (!shared && fs::is_directory(oldDir, ec) && !fs::exists(newDir, ec) &&
        RenameFile(oldDir, newDir)) {
        // Paths are rewritten only now that the folder is in its new place.
        std::vector<std::pair<Pid, std::string>> moved;
        {
            std::lock_guard<std::mutex> guard(m_imageLock);
            for (const auto& [pid, record] : m_records) {
                if (StartsWith(record.path, oldPrefix)) {
                    moved.emplace_back(pid,
                                       "\\" + newFolder + record.path.substr(oldPrefix.size() - 1));
                }
            }
        }
        bool written = false;
        {
            CHSqlTransaction tx(*m_db, m_txLock);
            written = tx.Ok();
            for (const auto& [pid, path] : moved) {
                written =
                    written && m_db->Exec("UPDATE images SET path=? WHERE pid=?", {path, pid});
            }
            written = written && tx.Commit();
        }
        if (!written) {
            RenameFile(newDir, oldDir); // the file still names the old folder
            return;
        }
        std::lock_guard<std::mutex> guard(m_imageLock);
        for (const auto& [pid, path] : moved) {
            auto it = m_records.find(pid);
            if (it != m_records.end()) {
                it->second.path = path;
            }
        }
        return;
    }
    MoveDeviceFiles(job.deviceKey, oldFolder, newFolder);
}

void CHDBCenter::MoveDeviceFiles(const std::string& key, const std::string& oldFolder,
                                 const std::string& newFolder) {
    const fs::path reposPath = GetReposPath();
    const std::string oldPrefix = "\\" + oldFolder + "\\";
    std::vector<std::pair<Pid, std::string>> files;
    {
        std::lock_guard<std::mutex> guard(m_imageLock);
        for (const auto& [pid, record] : m_records) {
            if (record.source == key && StartsWith(record.path, oldPrefix)) {
                files.emplace_back(pid, record.path);
            }
        }
    }
    for (const auto& [pid, path] : files) {
        const fs::path from = StoredToFsPath(reposPath, path);
        const fs::path wanted =
            StoredToFsPath(reposPath, "\\" + newFolder + path.substr(oldPrefix.size() - 1));
        std::error_code ec;
        if (from.empty() || wanted.empty() || !fs::exists(from, ec)) {
            continue;
        }
        const fs::path to = MakeUniqueName(wanted);
        const std::string stored = FsToStoredPath(reposPath, to);
        if (stored.empty() || !MoveFileTo(from, to)) {
            continue;
        }
        if (!Write("UPDATE images SET path=? WHERE pid=?", {stored, pid})) {
            MoveFileTo(to, from);
            continue;
        }
        std::lock_guard<std::mutex> guard(m_imageLock);
        auto it = m_records.find(pid);
        if (it != m_records.end()) {
            it->second.path = stored;
        }
    }
    std::error_code ec;
    fs::remove(reposPath / oldFolder, ec); // only when nothing is left in it
}
