// Browse trees and thumbnails as the library's interface offers them.

#include "library/CHDBCenter.h"

#include "media/JsonText.h"

#include <ctime>

namespace {

void LocalDay(int64_t seconds, int& year, int& month, int& day) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (localtime_r(&t, &local) == nullptr) {
        year = 1970;
        month = 1;
        day = 1;
        return;
    }
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
}

} // namespace

int CHDBCenter::HideImage(Pid pid) {
    ImageRecord record;
    if (!FindRecord(pid, record)) {
        return 0;
    }
    int year, month, day;
    LocalDay(record.time, year, month, day);
    m_indexes.RemoveTimePid(pid, year, month, day);
    m_indexes.RemoveOriginPid(pid);
    ForgetVerifyEntries(pid);
    Write("DELETE FROM verify WHERE pid=?", {pid});
    SaveIndexes();
    NotifyDeviceStats("");
    return 0;
}

int CHDBCenter::RestoreImage(Pid pid) {
    ImageRecord record;
    if (!FindRecord(pid, record)) {
        return 0;
    }
    int year, month, day;
    LocalDay(record.time, year, month, day);
    m_indexes.AddTimePidIfAbsent(year, month, day, pid);
    std::vector<std::string> albums;
    if (m_indexes.TakeTrashAlbums(pid, albums)) {
        for (const std::string& album : albums) {
            m_indexes.AddAlbumPid(album, pid);
        }
    }
    const Json::Value exif = GetExif(pid);
    m_indexes.AddOriginPid(JsonAsText(JsonMember(exif, "EquipMake")),
                           JsonAsText(JsonMember(exif, "EquipModel")), pid);
    SaveIndexes();
    return 0;
}

int CHDBCenter::CreateAlbum(const std::string& path) {
    return m_indexes.CreateAlbum(path);
}

Pid CHDBCenter::GetLastTimePid(const std::string& path) {
    return m_indexes.GetLastTimePid(path);
}

bool CHDBCenter::ListTimeChildren(const std::string& path, NameList& out) {
    return m_indexes.ListTimeChildren(path, out);
}

bool CHDBCenter::ListTimeGroups(NameList& out) {
    return m_indexes.ListTimeGroups(out);
}

bool CHDBCenter::GetTimePids(const std::string& path, PidList& out) {
    return m_indexes.GetTimePids(path, out);
}

bool CHDBCenter::ListYears(NameList& out) {
    return m_indexes.ListYears(out);
}

bool CHDBCenter::ListMonths(const std::string& year, NameList& out) {
    return m_indexes.ListMonths(year, out);
}

bool CHDBCenter::ListDays(const std::string& year, const std::string& month, NameList& out) {
    return m_indexes.ListDays(year, month, out);
}

Pid CHDBCenter::GetLastOriginPid(const std::string& path) {
    return m_indexes.GetLastOriginPid(path);
}

bool CHDBCenter::ListOrigins(NameList& out) {
    return m_indexes.ListOrigins(out);
}

bool CHDBCenter::GetOriginPids(const std::string& path, PidList& out) {
    return m_indexes.GetOriginPids(path, out);
}

bool CHDBCenter::ListSubAlbums(const std::string& path, NameList& out) {
    return m_indexes.ListSubAlbums(path, out);
}

bool CHDBCenter::ListAlbums(NameList& out) {
    return m_indexes.ListAlbums(out);
}

Pid CHDBCenter::GetLastAlbumPid(const std::string& path) {
    return m_indexes.GetLastAlbumPid(path);
}

bool CHDBCenter::GetAlbumOwnPids(const std::string& path, PidList& out) {
    return m_indexes.GetAlbumOwnPids(path, out);
}

bool CHDBCenter::ListAlbumsDeep(const std::string& path, NameList& out) {
    return m_indexes.ListAlbumsDeep(path, out);
}

bool CHDBCenter::GetAlbumPids(const std::string& path, PidList& out) {
    return m_indexes.GetAlbumPids(path, out);
}

bool CHDBCenter::ListTrashGroups(NameList& out) {
    return m_indexes.ListTrashGroups(out);
}

bool CHDBCenter::GetTrashPids(const std::string& group, PidList& out) {
    return m_indexes.GetTrashPids(group, out);
}

bool CHDBCenter::ListHistory(NameList& out) {
    return m_indexes.ListHistory(out);
}

int CHDBCenter::GetHistoryPids(const std::string& name, PidList& out) {
    return m_indexes.GetHistoryPids(name, out);
}

bool CHDBCenter::GetThumbnail(Pid pid, int width, int height, std::string& out) {
    return m_thumbs.GetThumbnail(pid, width, height, out);
}

int CHDBCenter::RequestThumbnail(const ThumbRequest& request) {
    return m_thumbs.RequestThumbnail(request);
}

int CHDBCenter::CancelThumbnailRequest(const ThumbRequest& request) {
    return m_thumbs.CancelThumbnailRequest(request);
}
