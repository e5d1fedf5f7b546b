#pragma once
// The photo library as the rest of the program sees it. Slot order is fixed. Texts are UTF-8;
// every operation reports failure or "nothing" by its result and never throws.

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

using Pid = int64_t;
using PidList = std::vector<Pid>;
using NameList = std::vector<std::string>;

// The device key under which photos added on this PC itself are filed.
inline constexpr char kLocalDeviceKey[] = "localhost";

class CHImageList;

// Called by the asynchronous thumbnail service: (image list, index in it, user1, user2, pid).
using ThumbCallback = void (*)(CHImageList* list, int index, intptr_t user1, intptr_t user2,
                               Pid pid);
struct ThumbRequest {
    Pid pid = 0;
    int width = 0;
    int height = 0;
    ThumbCallback callback = nullptr;
    intptr_t user1 = 0;
    intptr_t user2 = 0;
    bool operator==(const ThumbRequest&) const = default;
};

// Import progress: phase 0 before the file is stored (text = device key), 1 after (text = "").
using ImportProgress = std::function<void(int phase, int index, int total, const fs::path& file,
                                          const std::string& text, intptr_t user)>;

// The outcome of one queued import: the pid the file was stored (or recognised) under, 0 when
// it was not stored. Called once, on a library worker thread.
using ImportDone = std::function<void(Pid pid)>;

struct AuthEntry {
    int type = 0;
    std::string name; // display name
};

// 32767 in a thumbnail width or height means "follow the aspect ratio".
inline constexpr int kThumbFree = 32767;

class IDBCenter {
public:
    virtual Pid AddImage(const fs::path& source, const std::string& md5,
                         const std::string& deviceKey) = 0;                          // 0
    virtual int SaveIndexes() = 0;                                                   // 1
    virtual bool GetThumbnail(Pid pid, int width, int height, std::string& out) = 0; // 2
    virtual int RequestThumbnail(const ThumbRequest& request) = 0;                   // 3
    virtual int CancelThumbnailRequest(const ThumbRequest& request) = 0;             // 4
    // deviceKey null: the whole library.
    virtual void GetStatistics(int& count, int64_t& bytes, const std::string* deviceKey) = 0; // 5
    virtual int64_t GetTakenTime(Pid pid) = 0;                                                // 6
    virtual int CreateAlbum(const std::string& path) = 0;                                     // 7
    virtual int Reserved8() = 0;                                                              // 8
    virtual Pid GetLastTimePid(const std::string& path) = 0;                                  // 9
    virtual bool ListTimeChildren(const std::string& path, NameList& out) = 0;                // 10
    virtual bool ListTimeGroups(NameList& out) = 0;                                           // 11
    virtual bool GetTimePids(const std::string& path, PidList& out) = 0;                      // 12
    virtual bool ListYears(NameList& out) = 0;                                                // 13
    virtual bool ListMonths(const std::string& year, NameList& out) = 0;                      // 14
    virtual bool ListDays(const std::string& year, const std::string& month,
                          NameList& out) = 0;                                   // 15
    virtual Pid GetLastOriginPid(const std::string& path) = 0;                  // 16
    virtual bool ListOrigins(NameList& out) = 0;                                // 17
    virtual bool GetOriginPids(const std::string& path, PidList& out) = 0;      // 18
    virtual bool ListSubAlbums(const std::string& path, NameList& out) = 0;     // 19
    virtual bool ListAlbums(NameList& out) = 0;                                 // 20
    virtual Pid GetLastAlbumPid(const std::string& path) = 0;                   // 21
    virtual bool GetAlbumOwnPids(const std::string& path, PidList& out) = 0;    // 22
    virtual bool ListAlbumsDeep(const std::string& path, NameList& out) = 0;    // 23
    virtual bool ListTrashGroups(NameList& out) = 0;                            // 24
    virtual bool GetTrashPids(const std::string& group, PidList& out) = 0;      // 25
    virtual int VerifyMd5List(const Json::Value& tokens, Json::Value& out) = 0; // 26
    virtual Pid FindPidByMd5(const std::string& token) = 0;                     // 27
    virtual fs::path GetImagePath(Pid pid) = 0;                                 // 28
    virtual Json::Value GetExif(Pid pid) = 0;                                   // 29
    virtual int QueueImport(const fs::path& file, const std::string& deviceKey,
                            ImportProgress progress, intptr_t user,
                            const std::string& token) = 0;                              // 30
    virtual int RemoveImageByPath(const fs::path& fullPath) = 0;                        // 31
    virtual int HideImage(Pid pid) = 0;                                                 // 32
    virtual int DeleteImage(Pid pid) = 0;                                               // 33
    virtual int RestoreImage(Pid pid) = 0;                                              // 34
    virtual int SetAuth(const std::string& key, int type, const std::string& name) = 0; // 35
    virtual int RemoveAuth(const std::string& key) = 0;                                 // 36
    virtual int GetAuthList(std::map<std::string, AuthEntry>& out) = 0;                 // 37
    virtual bool IsAuthorized(const std::string& key) = 0;                              // 38
    virtual std::string GetDeviceName(const std::string& key) = 0;                      // 39
    virtual int RecordImport(const std::string& key, int pieces, int64_t bytes, int seconds,
                             bool notify) = 0;                                   // 40
    virtual int ShowLastImport(const std::string& key) = 0;                      // 41
    virtual bool ListHistory(NameList& out) = 0;                                 // 42
    virtual int GetHistoryPids(const std::string& name, PidList& out) = 0;       // 43
    virtual int FindMissingFiles(std::vector<fs::path>& out) = 0;                // 44
    virtual std::string GetMachineId() = 0;                                      // 45
    virtual int GetDevicesJson(Json::Value& out) = 0;                            // 46
    virtual bool DeviceHasImage(const std::string& key, Pid pid) = 0;            // 47
    virtual std::string GetConfig(const std::string& key) = 0;                   // 48
    virtual int SetConfig(const std::string& key, const std::string& value) = 0; // 49
    virtual int CloseLibrary() = 0;                                              // 50
    virtual int OpenLibrary(const fs::path& root) = 0;                           // 51
    virtual void LinkDeviceImage(const std::string& key, Pid pid) = 0;           // 52
    virtual int Reserved53() = 0;                                                // 53
    virtual bool GetAlbumPids(const std::string& path, PidList& out) = 0;        // 54
    // QueueImport whose caller learns the outcome; done is called once in every case.
    virtual int QueueImportDone(const fs::path& file, const std::string& deviceKey,
                                ImportProgress progress, intptr_t user, const std::string& token,
                                ImportDone done) = 0; // 55

protected:
    ~IDBCenter() = default;
};
