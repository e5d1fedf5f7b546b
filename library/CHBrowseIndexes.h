#pragma once
// The five browse trees of the library (time line, albums, camera origins, trash, history), kept
// as JSON documents in memory and stored as compact JSON text in the config table. One lock
// serialises every access. Trees read from storage may hold anything: every walk checks types.

#include "library/IDBCenter.h"

#include <json/value.h>

#include <array>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CHBrowseIndexes {
public:
    enum Tree : int { kTime = 0, kAlbum, kOrigin, kTrash, kHistory, kTreeCount };
    // Config keys in load and save order.
    static constexpr std::array<const char*, kTreeCount> kKeys = {
        "timeCache", "albumCache", "originCache", "trashCache", "historyCache"};

    // Empties every tree (all become null, nothing to save).
    void Clear();
    // Replaces one tree with a document read from storage; it counts as saved.
    void SetTree(int tree, Json::Value value);
    Json::Value GetTree(int tree) const;

    // Compact texts of the trees changed since they were last taken (every tree when all).
    // A caller whose write fails hands the key back with MarkDirty.
    std::vector<std::pair<std::string, std::string>> TakeDirty(bool all = false);
    void MarkDirty(int tree);

    // Time line: timeCache[year][month][day] = [pid, ...].
    void AddTimePid(int year, int month, int day, Pid pid);
    // The same unless the pid is already filed anywhere in the time line; true when added.
    bool AddTimePidIfAbsent(int year, int month, int day, Pid pid);
    // Removes every occurrence of the pid; the given day is looked at first, then the whole
    // tree (the pid may be filed under another day when the time zone has changed). A day left
    // empty is removed. True when the pid was found.
    bool RemoveTimePid(Pid pid, int year, int month, int day);
    bool HasTimePid(Pid pid) const;

    // Origins: originCache[make][model] = [pid, ...]; empty make or model files as "null".
    // Adding a pid already filed anywhere in the tree does nothing.
    void AddOriginPid(const std::string& make, const std::string& model, Pid pid);
    // Removes every occurrence; a model left empty is removed from its make.
    bool RemoveOriginPid(Pid pid);

    // Trash: trashCache[group]["<pid>"] = [album path, ...]. Removes the pid's member from the
    // first group that has it; the group goes too when dropEmptyGroup and it is now empty.
    bool RemoveTrashMember(Pid pid, bool dropEmptyGroup);
    // Takes the album paths of the pid's member from the first group holding it and removes the
    // member (the group stays). False when no group has it.
    bool TakeTrashAlbums(Pid pid, std::vector<std::string>& albums);
    // Appends the pid to the album's "images" unless it is there; creates the album.
    void AddAlbumPid(const std::string& path, Pid pid);

    // IDBCenter browse operations (same meaning, same results).
    int CreateAlbum(const std::string& path);
    Pid GetLastTimePid(const std::string& path) const;
    bool ListTimeChildren(const std::string& path, NameList& out) const;
    bool ListTimeGroups(NameList& out) const;
    bool GetTimePids(const std::string& path, PidList& out) const;
    bool ListYears(NameList& out) const;
    bool ListMonths(const std::string& year, NameList& out) const;
    bool ListDays(const std::string& year, const std::string& month, NameList& out) const;
    Pid GetLastOriginPid(const std::string& path) const;
    bool ListOrigins(NameList& out) const;
    bool GetOriginPids(const std::string& path, PidList& out) const;
    bool ListSubAlbums(const std::string& path, NameList& out) const;
    bool ListAlbums(NameList& out) const;
    Pid GetLastAlbumPid(const std::string& path) const;
    bool GetAlbumOwnPids(const std::string& path, PidList& out) const;
    bool ListAlbumsDeep(const std::string& path, NameList& out) const;
    bool GetAlbumPids(const std::string& path, PidList& out) const;
    bool ListTrashGroups(NameList& out) const;
    bool GetTrashPids(const std::string& group, PidList& out) const;
    bool ListHistory(NameList& out) const;
    int GetHistoryPids(const std::string& name, PidList& out) const;

    // "%04d", "%02d", "%02d" of a date: the member names of the time line.
    static std::string YearName(int year);
    static std::string TwoDigits(int value);

private:
    bool HasTimePidLocked(Pid pid) const;
    void AddTimePidLocked(int year, int month, int day, Pid pid);

    mutable std::mutex m_lock;
    std::array<Json::Value, kTreeCount> m_trees;
    std::array<bool, kTreeCount> m_dirty{};
};
