#pragma once
// The photo library: the library file (SQLite) under a storage root, an in-memory mirror of its
// records, devices, verify tokens, authorisations and browse trees, the import and rename
// workers, the thumbnail store and the HTTP service whose listening loop it runs.
//
// Lock order where two are held: repository lock, then image lock, then auth lock. The
// transaction lock is innermost: nothing else is taken while it is held.

#include "library/CHBrowseIndexes.h"
#include "library/CHDeviceRenamer.h"
#include "library/CHImportQueue.h"
#include "library/CHThumbStore.h"
#include "library/IDBCenter.h"
#include "library/ISQLite3.h"
#include "shell/CWorkerSlot.h"

#include <json/value.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class CHWebServer;

// One photo in memory. Its EXIF object stays in the library file and is read when asked for:
// holding 100 000 of them would cost seconds at open and hundreds of megabytes.
struct ImageRecord {
    Pid pid = 0;
    int64_t time = 0;
    std::string md5;
    std::string path; // stored form: "\device\IMG_0001.JPG", relative to the repository
    std::string source;
};

class CHDBCenter final : public IDBCenter {
public:
    static constexpr const char* kLibraryFileName = "Vellumo.cfg";
    static constexpr const char* kReposFolderName = "Repos";
    static constexpr const char* kThumbFolderName = "Thumb";
    static constexpr const char* kLocalKey = kLocalDeviceKey;
    static constexpr const char* kLocalName = "Local";

    CHDBCenter();
    ~CHDBCenter();
    CHDBCenter(const CHDBCenter&) = delete;
    CHDBCenter& operator=(const CHDBCenter&) = delete;

    // Before the first OpenLibrary: the port of the HTTP service (0 = ephemeral), or a negative
    // value for none (offline tools).
    void SetServicePort(int port);
    CHWebServer* GetWebServer();
    bool IsOpen() const;
    // Why the last OpenLibrary refused the library file ("" when it did not).
    std::string LastOpenError();
    // Where GetMachineId gets the PC identity from; by default the pairing code's identity.
    void SetMachineIdSource(std::function<std::string()> source);

    fs::path GetRootPath() const;
    fs::path GetReposPath() const;
    // The folder name of a device below the repository: its sanitised display name.
    std::string GetDeviceFolder(const std::string& key);
    // Waits until queued imports and renames are done (tools and tests).
    bool WaitIdle(int timeoutMs);
    // Consistency check of the open library: rows without files, verify tokens of missing
    // records, device links and the time line against the rows. One line per problem.
    std::vector<std::string> CheckLibrary();

    // IDBCenter
    Pid AddImage(const fs::path& source, const std::string& md5,
                 const std::string& deviceKey) override;
    int SaveIndexes() override;
    bool GetThumbnail(Pid pid, int width, int height, std::string& out) override;
    int RequestThumbnail(const ThumbRequest& request) override;
    int CancelThumbnailRequest(const ThumbRequest& request) override;
    void GetStatistics(int& count, int64_t& bytes, const std::string* deviceKey) override;
    int64_t GetTakenTime(Pid pid) override;
    int CreateAlbum(const std::string& path) override;
    int Reserved8() override { return 0; }
    Pid GetLastTimePid(const std::string& path) override;
    bool ListTimeChildren(const std::string& path, NameList& out) override;
    bool ListTimeGroups(NameList& out) override;
    bool GetTimePids(const std::string& path, PidList& out) override;
    bool ListYears(NameList& out) override;
    bool ListMonths(const std::string& year, NameList& out) override;
    bool ListDays(const std::string& year, const std::string& month, NameList& out) override;
    Pid GetLastOriginPid(const std::string& path) override;
    bool ListOrigins(NameList& out) override;
    bool GetOriginPids(const std::string& path, PidList& out) override;
    bool ListSubAlbums(const std::string& path, NameList& out) override;
    bool ListAlbums(NameList& out) override;
    Pid GetLastAlbumPid(const std::string& path) override;
    bool GetAlbumOwnPids(const std::string& path, PidList& out) override;
    bool ListAlbumsDeep(const std::string& path, NameList& out) override;
    bool ListTrashGroups(NameList& out) override;
    bool GetTrashPids(const std::string& group, PidList& out) override;
    int VerifyMd5List(const Json::Value& tokens, Json::Value& out) override;
    Pid FindPidByMd5(const std::string& token) override;
    fs::path GetImagePath(Pid pid) override;
    Json::Value GetExif(Pid pid) override;
    int QueueImport(const fs::path& file, const std::string& deviceKey, ImportProgress progress,
                    intptr_t user, const std::string& token) override;
    int RemoveImageByPath(const fs::path& fullPath) override;
    int HideImage(Pid pid) override;
    int DeleteImage(Pid pid) override;
    int RestoreImage(Pid pid) override;
    int SetAuth(const std::string& key, int type, const std::string& name) override;
    int RemoveAuth(const std::string& key) override;
    int GetAuthList(std::map<std::string, AuthEntry>& out) override;
    bool IsAuthorized(const std::string& key) override;
    std::string GetDeviceName(const std::string& key) override;
    int RecordImport(const std::string& key, int pieces, int64_t bytes, int seconds,
                     bool notify) override;
    int ShowLastImport(const std::string& key) override;
    bool ListHistory(NameList& out) override;
    int GetHistoryPids(const std::string& name, PidList& out) override;
    int FindMissingFiles(std::vector<fs::path>& out) override;
    std::string GetMachineId() override;
    int GetDevicesJson(Json::Value& out) override;
    bool DeviceHasImage(const std::string& key, Pid pid) override;
    std::string GetConfig(const std::string& key) override;
    int SetConfig(const std::string& key, const std::string& value) override;
    int CloseLibrary() override;
    int OpenLibrary(const fs::path& root) override;
    void LinkDeviceImage(const std::string& key, Pid pid) override;
    int Reserved53() override { return 1; }
    bool GetAlbumPids(const std::string& path, PidList& out) override;
    int QueueImportDone(const fs::path& file, const std::string& deviceKey, ImportProgress progress,
                        intptr_t user, const std::string& token, ImportDone done) override;

    // The JSON forms of the config table (compact text and a line feed).
    bool ReadConfigJson(const std::string& key, Json::Value& value);
    bool WriteConfigJson(const std::string& key, const Json::Value& value);

private:
    // Stores the file (or recognises it), with its verify entry when token is not empty.
    Pid StoreImage(const fs::path& source, const std::string& md5, int64_t size,
                   const std::string& deviceKey, const std::string& token);
    // Links a photo the library holds to the device and records the token for it; under the
    // repository lock.
    void RecordDuplicate(Pid pid, const std::string& deviceKey, const std::string& token);
    Pid StoreQueued(const CHImportQueue::Job& job);
    void RenameDevice(const CHDeviceRenamer::Job& job);
    void MoveDeviceFiles(const std::string& key, const std::string& oldFolder,
                         const std::string& newFolder);
    // Exec under the transaction lock (autocommit writes must not land in a transaction that
    // another thread has open and may roll back).
    bool Write(std::string_view sql, const SqlArgs& args = {});
    void ClearMemory();
    void LoadTables();
    bool CreateMissingTables();
    // Brings the tables of an opened file to today's layout, copying the file aside first when
    // it holds data. False (with the reason) when the file cannot be used.
    bool PrepareTables(const fs::path& file, bool hasRows, std::string& error);
    bool UpgradeImagesTable();
    // Pairing changes made while the library is closed, written when it opens again.
    bool RememberWhileClosed(const std::string& key, std::optional<AuthEntry> entry);
    void ApplyAuthWhileClosed();
    void StartService();
    void StopService();
    void Notify(int code, std::shared_ptr<const void> data);
    void NotifyDeviceStats(const std::string& key);
    // A copy of the record; false for a pid not in the library.
    bool FindRecord(Pid pid, ImageRecord& out);
    // Drops the record from the tables in memory; returns the devices it was linked to.
    std::vector<std::string> ForgetRecord(Pid pid);
    void ForgetVerifyEntries(Pid pid);
    void UpdateStoredPath(Pid pid, const std::string& path);
    // Folders that gained a photo since the last SyncStored.
    void MarkForSync(const fs::path& folder);
    // Flushes the library's log and those folders to the disk.
    bool SyncStored();
    bool WriteConfigText(const std::string& key, const std::string& text);
    // Writes the browse trees changed since they were last written (every tree when all).
    void SaveDirtyIndexes(bool all);

    std::shared_ptr<ISQLite3> m_db;

    mutable std::mutex m_pathLock; // guards the three paths and m_openError
    fs::path m_root;
    fs::path m_repos;
    fs::path m_thumb;
    std::string m_openError;

    // Serialises file placement in the repository (imports, renames) with opening and closing
    // the library, so no file is moved while the root moves.
    std::mutex m_reposLock;
    std::mutex m_syncLock;
    std::set<fs::path> m_unsyncedFolders;
    std::recursive_mutex m_txLock;

    std::mutex m_imageLock;
    std::map<Pid, ImageRecord> m_records;
    // Keys view the md5 text of the record they lead to (map nodes never move), saving a copy
    // of every digest; an entry is always erased before its record.
    std::unordered_map<std::string_view, Pid> m_byMd5;
    std::map<std::string, std::set<Pid>> m_devices;

    std::mutex m_verifyLock;
    std::unordered_map<std::string, Pid> m_verify;

    std::mutex m_authLock;
    std::map<std::string, AuthEntry> m_auth;

    CHBrowseIndexes m_indexes;

    std::mutex m_machineLock;
    std::function<std::string()> m_machineId;

    // Queued work waits here while the library is closed for a root move.
    bool WaitUntilOpen();
    std::mutex m_openLock;
    std::condition_variable m_opened;
    std::vector<std::pair<std::string, std::optional<AuthEntry>>> m_authWhileClosed;

    int m_servicePort = -2; // -2: the default port
    std::unique_ptr<CHWebServer> m_server;
    CWorkerSlot m_serviceSlot;
    std::atomic<bool> m_stopping{false};

    CHThumbStore m_thumbs;
    CHImportQueue m_imports;
    CHDeviceRenamer m_renamer;
};
