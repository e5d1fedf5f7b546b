#include "library/CHBrowseIndexes.h"

#include "media/JsonText.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

// Non-empty components of a "/"-separated path; doubled and trailing separators are skipped.
std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (i > start) {
                parts.push_back(path.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return parts;
}

const Json::Value* Child(const Json::Value& node, std::string_view name) {
    if (!node.isObject()) {
        return nullptr;
    }
    return node.find(name.data(), name.data() + name.size());
}

// The member of an object, created as null when missing; a node that is not an object becomes
// an empty one first (a stored tree of the wrong shape cannot be filed into otherwise).
Json::Value& Demand(Json::Value& node, std::string_view name) {
    if (!node.isObject()) {
        node = Json::Value(Json::objectValue);
    }
    return *node.demand(name.data(), name.data() + name.size());
}

Json::Value& DemandObject(Json::Value& node, std::string_view name) {
    Json::Value& child = Demand(node, name);
    if (!child.isObject()) {
        child = Json::Value(Json::objectValue);
    }
    return child;
}

Json::Value& DemandArray(Json::Value& node, std::string_view name) {
    Json::Value& child = Demand(node, name);
    if (!child.isArray()) {
        child = Json::Value(Json::arrayValue);
    }
    return child;
}

void RemoveMember(Json::Value& node, std::string_view name) {
    if (node.isObject()) {
        node.removeMember(name.data(), name.data() + name.size(), nullptr);
    }
}

// Time and origin walk: each component names a member.
const Json::Value* WalkNodes(const Json::Value& root, std::string_view path) {
    const Json::Value* node = &root;
    for (std::string_view part : SplitPath(path)) {
        node = Child(*node, part);
        if (node == nullptr) {
            return nullptr;
        }
    }
    return node;
}

// Album walk: each component goes through the node's "albums".
const Json::Value* WalkAlbums(const Json::Value& root, std::string_view path) {
    const Json::Value* node = &root;
    for (std::string_view part : SplitPath(path)) {
        const Json::Value* albums = Child(*node, "albums");
        node = albums != nullptr ? Child(*albums, part) : nullptr;
        if (node == nullptr) {
            return nullptr;
        }
    }
    return node;
}

// Member names in ascending byte order (the order jsoncpp keeps them in).
void AppendNames(const Json::Value& node, NameList& out) {
    if (!node.isObject()) {
        return;
    }
    for (auto it = node.begin(); it != node.end(); ++it) {
        out.push_back(it.name());
    }
}

void AppendNamesDescending(const Json::Value& node, NameList& out) {
    size_t first = out.size();
    AppendNames(node, out);
    std::reverse(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

// Arrays give their elements in order, objects the collection of each member in name order.
void CollectPids(const Json::Value& node, PidList& out) {
    if (node.isArray()) {
        for (const Json::Value& element : node) {
            out.push_back(JsonAsInt64(element));
        }
    } else if (node.isObject()) {
        for (const Json::Value& member : node) {
            CollectPids(member, out);
        }
    }
}

void CollectAlbumPids(const Json::Value& album, PidList& out) {
    if (const Json::Value* images = Child(album, "images")) {
        CollectPids(*images, out);
    } else if (const Json::Value* albums = Child(album, "albums")) {
        if (albums->isObject()) {
            for (const Json::Value& sub : *albums) {
                CollectAlbumPids(sub, out);
            }
        }
    }
}

bool ArrayHas(const Json::Value& array, Pid pid) {
    if (!array.isArray()) {
        return false;
    }
    for (const Json::Value& element : array) {
        if (JsonAsInt64(element) == pid) {
            return true;
        }
    }
    return false;
}

// Removes every element equal to the pid; true when one was removed.
bool RemoveFromArray(Json::Value& array, Pid pid) {
    if (!ArrayHas(array, pid)) {
        return false;
    }
    Json::Value kept(Json::arrayValue);
    for (const Json::Value& element : array) {
        if (JsonAsInt64(element) != pid) {
            kept.append(element);
        }
    }
    array.swap(kept);
    return true;
}

// Removes the pid from every array two levels below the root (make/model, or day arrays one
// level deeper through RemoveFromDays); emptied arrays are removed from their parent.
bool RemoveFromLeafArrays(Json::Value& parent, Pid pid) {
    if (!parent.isObject()) {
        return false;
    }
    bool found = false;
    std::vector<std::string> emptied;
    for (auto it = parent.begin(); it != parent.end(); ++it) {
        Json::Value& leaf = *it;
        if (RemoveFromArray(leaf, pid)) {
            found = true;
            if (leaf.empty()) {
                emptied.push_back(it.name());
            }
        }
    }
    for (const std::string& name : emptied) {
        RemoveMember(parent, name);
    }
    return found;
}

std::string PidText(Pid pid) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64, pid);
    return text;
}

} // namespace

std::string CHBrowseIndexes::YearName(int year) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", year);
    return text;
}

std::string CHBrowseIndexes::TwoDigits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

void CHBrowseIndexes::Clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto& tree : m_trees) {
        tree = Json::Value();
    }
    m_dirty.fill(false);
}

void CHBrowseIndexes::SetTree(int tree, Json::Value value) {
    if (tree < 0 || tree >= kTreeCount) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_trees[tree].swap(value);
    m_dirty[tree] = false;
}

Json::Value CHBrowseIndexes::GetTree(int tree) const {
    if (tree < 0 || tree >= kTreeCount) {
        return {};
    }
    std::lock_guard<std::mutex> guard(m_lock);
    return m_trees[tree];
}

std::vector<std::pair<std::string, std::string>> CHBrowseIndexes::TakeDirty(bool all) {
    std::vector<std::pair<std::string, std::string>> texts;
    std::lock_guard<std::mutex> guard(m_lock);
    for (int i = 0; i < kTreeCount; ++i) {
        if (all || m_dirty[i]) {
            texts.emplace_back(kKeys[i], JsonCompact(m_trees[i]));
            m_dirty[i] = false;
        }
    }
    return texts;
}

void CHBrowseIndexes::MarkDirty(int tree) {
    if (tree < 0 || tree >= kTreeCount) {
        return;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    m_dirty[tree] = true;
}

void CHBrowseIndexes::AddTimePid(int year, int month, int day, Pid pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    AddTimePidLocked(year, month, day, pid);
}

bool CHBrowseIndexes::AddTimePidIfAbsent(int year, int month, int day, Pid pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (HasTimePidLocked(pid)) {
        return false;
    }
    AddTimePidLocked(year, month, day, pid);
    return true;
}

void CHBrowseIndexes::AddTimePidLocked(int year, int month, int day, Pid pid) {
    Json::Value& yearNode = DemandObject(m_trees[kTime], YearName(year));
    Json::Value& monthNode = DemandObject(yearNode, TwoDigits(month));
    DemandArray(monthNode, TwoDigits(day)).append(Json::Value(Json::Int64(pid)));
    m_dirty[kTime] = true;
}

bool CHBrowseIndexes::RemoveTimePid(Pid pid, int year, int month, int day) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& root = m_trees[kTime];
    if (!root.isObject()) {
        return false;
    }
    bool found = false;
    // The day the taken time gives in today's time zone: the usual place.
    const std::string y = YearName(year), m = TwoDigits(month), d = TwoDigits(day);
    if (Json::Value* yearNode = const_cast<Json::Value*>(Child(root, y))) {
        if (Json::Value* monthNode = const_cast<Json::Value*>(Child(*yearNode, m))) {
            if (Json::Value* dayNode = const_cast<Json::Value*>(Child(*monthNode, d))) {
                found = RemoveFromArray(*dayNode, pid);
                if (found && dayNode->empty()) {
                    RemoveMember(*monthNode, d);
                }
            }
        }
    }
    // Anywhere else (filed under another zone, or filed twice).
    for (Json::Value& yearNode : root) {
        if (!yearNode.isObject()) {
            continue;
        }
        for (Json::Value& monthNode : yearNode) {
            found = RemoveFromLeafArrays(monthNode, pid) || found;
        }
    }
    if (found) {
        m_dirty[kTime] = true;
    }
    return found;
}

bool CHBrowseIndexes::HasTimePid(Pid pid) const {
    std::lock_guard<std::mutex> guard(m_lock);
    return HasTimePidLocked(pid);
}

bool CHBrowseIndexes::HasTimePidLocked(Pid pid) const {
    const Json::Value& root = m_trees[kTime];
    if (!root.isObject()) {
        return false;
    }
    for (const Json::Value& yearNode : root) {
        if (!yearNode.isObject()) {
            continue;
        }
        for (const Json::Value& monthNode : yearNode) {
            if (!monthNode.isObject()) {
                continue;
            }
            for (const Json::Value& dayNode : monthNode) {
                if (ArrayHas(dayNode, pid)) {
                    return true;
                }
            }
        }
    }
    return false;
}

void CHBrowseIndexes::AddOriginPid(const std::string& make, const std::string& model, Pid pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& root = m_trees[kOrigin];
    if (root.isObject()) {
        for (const Json::Value& makeNode : root) {
            if (!makeNode.isObject()) {
                continue;
            }
            for (const Json::Value& modelNode : makeNode) {
                if (ArrayHas(modelNode, pid)) {
                    return;
                }
            }
        }
    }
    Json::Value& makeNode = DemandObject(root, make.empty() ? "null" : make);
    DemandArray(makeNode, model.empty() ? "null" : model).append(Json::Value(Json::Int64(pid)));
    m_dirty[kOrigin] = true;
}

bool CHBrowseIndexes::RemoveOriginPid(Pid pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& root = m_trees[kOrigin];
    if (!root.isObject()) {
        return false;
    }
    bool found = false;
    for (Json::Value& makeNode : root) {
        found = RemoveFromLeafArrays(makeNode, pid) || found;
    }
    if (found) {
        m_dirty[kOrigin] = true;
    }
    return found;
}

bool CHBrowseIndexes::RemoveTrashMember(Pid pid, bool dropEmptyGroup) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& root = m_trees[kTrash];
    if (!root.isObject()) {
        return false;
    }
    const std::string member = PidText(pid);
    for (auto it = root.begin(); it != root.end(); ++it) {
        Json::Value& group = *it;
        if (Child(group, member) == nullptr) {
            continue;
        }
        RemoveMember(group, member);
        if (dropEmptyGroup && group.empty()) {
            RemoveMember(root, it.name());
        }
        m_dirty[kTrash] = true;
        return true;
    }
    return false;
}

bool CHBrowseIndexes::TakeTrashAlbums(Pid pid, std::vector<std::string>& albums) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& root = m_trees[kTrash];
    if (!root.isObject()) {
        return false;
    }
    const std::string member = PidText(pid);
    for (Json::Value& group : root) {
        const Json::Value* paths = Child(group, member);
        if (paths == nullptr) {
            continue;
        }
        if (paths->isArray()) {
            for (const Json::Value& path : *paths) {
                albums.push_back(JsonAsText(path));
            }
        }
        RemoveMember(group, member);
        m_dirty[kTrash] = true;
        return true;
    }
    return false;
}

namespace {

Json::Value& DemandAlbum(Json::Value& root, std::string_view path) {
    Json::Value* node = &root;
    if (!node->isObject()) {
        *node = Json::Value(Json::objectValue);
    }
    for (std::string_view part : SplitPath(path)) {
        node = &DemandObject(DemandObject(*node, "albums"), part);
    }
    return *node;
}

} // namespace

void CHBrowseIndexes::AddAlbumPid(const std::string& path, Pid pid) {
    std::lock_guard<std::mutex> guard(m_lock);
    Json::Value& images = DemandArray(DemandAlbum(m_trees[kAlbum], path), "images");
    if (!ArrayHas(images, pid)) {
        images.append(Json::Value(Json::Int64(pid)));
    }
    m_dirty[kAlbum] = true;
}

int CHBrowseIndexes::CreateAlbum(const std::string& path) {
    std::lock_guard<std::mutex> guard(m_lock);
    DemandAlbum(m_trees[kAlbum], path);
    m_dirty[kAlbum] = true;
    return 1;
}

Pid CHBrowseIndexes::GetLastTimePid(const std::string& path) const {
    PidList pids;
    GetTimePids(path, pids);
    return pids.empty() ? 0 : pids.back();
}

bool CHBrowseIndexes::ListTimeChildren(const std::string& path, NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const Json::Value* node = WalkNodes(m_trees[kTime], path);
    if (node == nullptr) {
        return false;
    }
    AppendNamesDescending(*node, out);
    return true;
}

bool CHBrowseIndexes::ListTimeGroups(NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const Json::Value& root = m_trees[kTime];
    NameList years;
    AppendNamesDescending(root, years);
    NameList groups;
    const Json::Value* onlyMonth = nullptr;
    for (const std::string& year : years) {
        const Json::Value* yearNode = Child(root, year);
        NameList months;
        AppendNamesDescending(*yearNode, months);
        for (const std::string& month : months) {
            groups.push_back(year + "/" + month);
            onlyMonth = Child(*yearNode, month);
        }
    }
    if (groups.size() == 1) {
        const std::string prefix = groups.front() + "/";
        groups.clear();
        NameList days;
        AppendNames(*onlyMonth, days);
        for (const std::string& day : days) {
            groups.push_back(prefix + day);
        }
    }
    out.insert(out.end(), groups.begin(), groups.end());
    return !out.empty();
}

bool CHBrowseIndexes::GetTimePids(const std::string& path, PidList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* node = WalkNodes(m_trees[kTime], path)) {
        CollectPids(*node, out);
    }
    return !out.empty();
}

bool CHBrowseIndexes::ListYears(NameList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    AppendNames(m_trees[kTime], out);
    return !out.empty();
}

bool CHBrowseIndexes::ListMonths(const std::string& year, NameList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* node = Child(m_trees[kTime], year)) {
        AppendNames(*node, out);
    }
    return !out.empty();
}

bool CHBrowseIndexes::ListDays(const std::string& year, const std::string& month,
                               NameList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* yearNode = Child(m_trees[kTime], year)) {
        if (const Json::Value* monthNode = Child(*yearNode, month)) {
            AppendNames(*monthNode, out);
        }
    }
    return !out.empty();
}

Pid CHBrowseIndexes::GetLastOriginPid(const std::string& path) const {
    PidList pids;
    GetOriginPids(path, pids);
    return pids.empty() ? 0 : pids.back();
}

bool CHBrowseIndexes::ListOrigins(NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    const Json::Value& root = m_trees[kOrigin];
    NameList makes;
    AppendNamesDescending(root, makes);
    for (const std::string& make : makes) {
        NameList models;
        AppendNamesDescending(*Child(root, make), models);
        for (const std::string& model : models) {
            out.push_back(make + "/" + model);
        }
    }
    return !out.empty();
}

bool CHBrowseIndexes::GetOriginPids(const std::string& path, PidList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* node = WalkNodes(m_trees[kOrigin], path)) {
        CollectPids(*node, out);
    }
    return !out.empty();
}

bool CHBrowseIndexes::ListSubAlbums(const std::string& path, NameList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* album = WalkAlbums(m_trees[kAlbum], path)) {
        if (const Json::Value* albums = Child(*album, "albums")) {
            AppendNames(*albums, out);
        }
    }
    return !out.empty();
}

bool CHBrowseIndexes::ListAlbums(NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* albums = Child(m_trees[kAlbum], "albums")) {
        AppendNames(*albums, out);
    }
    return !out.empty();
}

Pid CHBrowseIndexes::GetLastAlbumPid(const std::string& path) const {
    PidList pids;
    GetAlbumPids(path, pids);
    return pids.empty() ? 0 : pids.back();
}

bool CHBrowseIndexes::GetAlbumOwnPids(const std::string& path, PidList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* album = WalkAlbums(m_trees[kAlbum], path)) {
        if (const Json::Value* images = Child(*album, "images")) {
            CollectPids(*images, out);
        }
    }
    return !out.empty();
}

namespace {

void AppendAlbumsDeep(const Json::Value& album, const std::string& path, NameList& out) {
    const Json::Value* albums = Child(album, "albums");
    if (albums == nullptr || !albums->isObject()) {
        return;
    }
    for (auto it = albums->begin(); it != albums->end(); ++it) {
        std::string full = path.empty() ? it.name() : path + "/" + it.name();
        out.push_back(full);
        AppendAlbumsDeep(*it, full, out);
    }
}

} // namespace

bool CHBrowseIndexes::ListAlbumsDeep(const std::string& path, NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* album = WalkAlbums(m_trees[kAlbum], path)) {
        AppendAlbumsDeep(*album, path, out);
    }
    return !out.empty();
}

bool CHBrowseIndexes::GetAlbumPids(const std::string& path, PidList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* album = WalkAlbums(m_trees[kAlbum], path)) {
        CollectAlbumPids(*album, out);
    }
    return !out.empty();
}

bool CHBrowseIndexes::ListTrashGroups(NameList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    AppendNames(m_trees[kTrash], out);
    return m_trees[kTrash].isObject();
}

bool CHBrowseIndexes::GetTrashPids(const std::string& group, PidList& out) const {
    out.clear();
    std::lock_guard<std::mutex> guard(m_lock);
    const Json::Value* node = Child(m_trees[kTrash], group);
    if (node == nullptr) {
        return false;
    }
    if (node->isObject()) {
        for (auto it = node->begin(); it != node->end(); ++it) {
            out.push_back(std::strtoll(it.name().c_str(), nullptr, 10));
        }
    }
    return true;
}

bool CHBrowseIndexes::ListHistory(NameList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    AppendNames(m_trees[kHistory], out);
    return m_trees[kHistory].isObject();
}

int CHBrowseIndexes::GetHistoryPids(const std::string& name, PidList& out) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const Json::Value* values = Child(m_trees[kHistory], name)) {
        if (values->isArray()) {
            for (const Json::Value& value : *values) {
                out.push_back(JsonAsInt64(value));
            }
        }
    }
    return 1;
}
