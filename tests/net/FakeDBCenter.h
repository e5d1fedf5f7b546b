#pragma once
// A library stand-in for the authorisation gate: only IsAuthorized has behaviour.

#include "library/IDBCenter.h"

#include <atomic>
#include <set>
#include <string>

class FakeDBCenter : public IDBCenter {
public:
    explicit FakeDBCenter(std::set<std::string> keys) : m_keys(std::move(keys)) {}
    virtual ~FakeDBCenter() = default;

    int AuthorizedCalls() const { return m_calls.load(); }

    bool IsAuthorized(const std::string& key) override {
        ++m_calls;
        return m_keys.count(key) != 0;
    }

    Pid AddImage(const fs::path&, const std::string&, const std::string&) override { return 0; }
    int SaveIndexes() override { return 0; }
    bool GetThumbnail(Pid, int, int, std::string&) override { return false; }
    int RequestThumbnail(const ThumbRequest&) override { return 0; }
    int CancelThumbnailRequest(const ThumbRequest&) override { return 0; }
    void GetStatistics(int& count, int64_t& bytes, const std::string*) override {
        count = 0;
        bytes = 0;
    }
    int64_t GetTakenTime(Pid) override { return 0; }
    int CreateAlbum(const std::string&) override { return 0; }
    int Reserved8() override { return 0; }
    Pid GetLastTimePid(const std::string&) override { return 0; }
    bool ListTimeChildren(const std::string&, NameList&) override { return false; }
    bool ListTimeGroups(NameList&) override { return false; }
    bool GetTimePids(const std::string&, PidList&) override { return false; }
    bool ListYears(NameList&) override { return false; }
    bool ListMonths(const std::string&, NameList&) override { return false; }
    bool ListDays(const std::string&, const std::string&, NameList&) override { return false; }
    Pid GetLastOriginPid(const std::string&) override { return 0; }
    bool ListOrigins(NameList&) override { return false; }
    bool GetOriginPids(const std::string&, PidList&) override { return false; }
    bool ListSubAlbums(const std::string&, NameList&) override { return false; }
    bool ListAlbums(NameList&) override { return false; }
    Pid GetLastAlbumPid(const std::string&) override { return 0; }
    bool GetAlbumOwnPids(const std::string&, PidList&) override { return false; }
    bool ListAlbumsDeep(const std::string&, NameList&) override { return false; }
    bool ListTrashGroups(NameList&) override { return false; }
    bool GetTrashPids(const std::string&, PidList&) override { return false; }
    int VerifyMd5List(const Json::Value&, Json::Value&) override { return 0; }
    Pid FindPidByMd5(const std::string&) override { return 0; }
    fs::path GetImagePath(Pid) override { return {}; }
    Json::Value GetExif(Pid) override { return {}; }
    int QueueImport(const fs::path&, const std::string&, ImportProgress, intptr_t,
                    const std::string&) override {
        return 0;
    }
    int RemoveImageByPath(const fs::path&) override { return 0; }
    int HideImage(Pid) override { return 0; }
    int DeleteImage(Pid) override { return 0; }
    int RestoreImage(Pid) override { return 0; }
    int SetAuth(const std::string&, int, const std::string&) override { return 0; }
    int RemoveAuth(const std::string&) override { return 0; }
    int GetAuthList(std::map<std::string, AuthEntry>&) override { return 0; }
    std::string GetDeviceName(const std::string&) override { return {}; }
    int RecordImport(const std::string&, int, int64_t, int, bool) override { return 0; }
    int ShowLastImport(const std::string&) override { return 0; }
    bool ListHistory(NameList&) override { return false; }
    int GetHistoryPids(const std::string&, PidList&) override { return 0; }
    int FindMissingFiles(std::vector<fs::path>&) override { return 0; }
    std::string GetMachineId() override { return {}; }
    int GetDevicesJson(Json::Value&) override { return 0; }
    bool DeviceHasImage(const std::string&, Pid) override { return false; }
    std::string GetConfig(const std::string&) override { return {}; }
    int SetConfig(const std::string&, const std::string&) override { return 0; }
    int CloseLibrary() override { return 0; }
    int OpenLibrary(const fs::path&) override { return 0; }
    void LinkDeviceImage(const std::string&, Pid) override {}
    int Reserved53() override { return 0; }
    bool GetAlbumPids(const std::string&, PidList&) override { return false; }
    int QueueImportDone(const fs::path&, const std::string&, ImportProgress, intptr_t,
                        const std::string&, ImportDone done) override {
        if (done) {
            done(0);
        }
        return 1;
    }

private:
    std::set<std::string> m_keys;
    std::atomic<int> m_calls{0};
};
