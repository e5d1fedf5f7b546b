#include "platform/DriveList.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

// File systems that hold no user files of their own, or lose them at shutdown.
const std::set<std::string_view> kPseudoTypes = {"autofs",
                                                 "binfmt_misc",
                                                 "bpf",
                                                 "cgroup",
                                                 "cgroup2",
                                                 "configfs",
                                                 "debugfs",
                                                 "devpts",
                                                 "devtmpfs",
                                                 "efivarfs",
                                                 "fusectl",
                                                 "hugetlbfs",
                                                 "mqueue",
                                                 "nsfs",
                                                 "overlay",
                                                 "proc",
                                                 "pstore",
                                                 "ramfs",
                                                 "rpc_pipefs",
                                                 "securityfs",
                                                 "selinuxfs",
                                                 "squashfs",
                                                 "sysfs",
                                                 "tmpfs",
                                                 "tracefs",
                                                 "iso9660",
                                                 "udf",
                                                 "zram",
                                                 "aufs",
                                                 "fuse.lxcfs",
                                                 "fuse.portal",
                                                 "fuse.gvfsd-fuse",
                                                 "fuse.snapfuse",
                                                 "fuse.AppImage",
                                                 "fuse.squashfuse"};

// File systems whose files live on another machine.
const std::set<std::string_view> kNetworkTypes = {"nfs",
                                                  "nfs4",
                                                  "cifs",
                                                  "smb3",
                                                  "smbfs",
                                                  "ncpfs",
                                                  "afs",
                                                  "ceph",
                                                  "glusterfs",
                                                  "9p",
                                                  "lustre",
                                                  "gfs2",
                                                  "ocfs2",
                                                  "davfs",
                                                  "coda",
                                                  "fuse.sshfs",
                                                  "fuse.rclone",
                                                  "fuse.s3fs",
                                                  "fuse.davfs2",
                                                  "fuse.glusterfs",
                                                  "fuse.ceph",
                                                  "fuse.curlftpfs",
                                                  "fuse.gcsfuse",
                                                  "fuse.goofys",
                                                  "fuse.cephfs",
                                                  "fuse.smbnetfs",
                                                  "fuse.onedriver",
                                                  "fuse.google-drive-ocamlfuse",
                                                  "fuse.juicefs"};

// The system's own folders; removable drives mounted below /run/media stay offered.
bool IsSystemFolder(const std::string& mountPoint) {
    static const char* const kPrefixes[] = {"/proc",
                                            "/sys",
                                            "/dev",
                                            "/run",
                                            "/snap",
                                            "/boot",
                                            "/efi",
                                            "/var/lib/snapd",
                                            "/var/snap",
                                            "/var/lib/docker",
                                            "/var/lib/containers"};
    auto below = [&](std::string_view prefix) {
        return mountPoint.compare(0, prefix.size(), prefix) == 0 &&
               (mountPoint.size() == prefix.size() || mountPoint[prefix.size()] == '/');
    };
    if (below("/run/media")) {
        return false;
    }
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes), below);
}

bool HasOption(const std::string& options, std::string_view option) {
    size_t start = 0;
    while (start <= options.size()) {
        size_t end = options.find(',', start);
        if (end == std::string::npos) {
            end = options.size();
        }
        if (std::string_view(options).substr(start, end - start) == option) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// "\ooo" (three octal digits, at most 0377) stands for one byte; anything else stays as it is.
std::string Unescape(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            int value = 0;
            bool octal = true;
            for (size_t k = 1; k <= 3; ++k) {
                char c = field[i + k];
                octal = octal && c >= '0' && c <= '7';
                value = value * 8 + (c - '0');
            }
            if (octal && value <= 0377) {
                out.push_back(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

bool ParseNumber(std::string_view text, unsigned long max, unsigned long& value) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= max;
}

bool ParseLine(std::string_view line, MountEntry& entry) {
    std::vector<std::string_view> fields = SplitFields(line);
    // id parent major:minor root mountpoint options [optional...] - type source superoptions
    if (fields.size() < 9) {
        return false;
    }
    size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") {
        ++separator;
    }
    if (separator + 2 >= fields.size()) {
        return false; // no separator, or no type and source after it
    }
    unsigned long id = 0, parent = 0, major = 0, minor = 0;
    std::string_view device = fields[2];
    size_t colon = device.find(':');
    if (!ParseNumber(fields[0], 0x7fffffff, id) || !ParseNumber(fields[1], 0x7fffffff, parent) ||
        colon == std::string_view::npos ||
        !ParseNumber(device.substr(0, colon), 0xffffffff, major) ||
        !ParseNumber(device.substr(colon + 1), 0xffffffff, minor)) {
        return false;
    }
    entry.id = static_cast<int>(id);
    entry.parentId = static_cast<int>(parent);
    entry.major = static_cast<unsigned>(major);
    entry.minor = static_cast<unsigned>(minor);
    entry.root = Unescape(fields[3]);
    entry.mountPoint = Unescape(fields[4]);
    entry.options = std::string(fields[5]);
    entry.fsType = Unescape(fields[separator + 1]);
    entry.source = Unescape(fields[separator + 2]);
    entry.superOptions = separator + 3 < fields.size() ? std::string(fields[separator + 3]) : "";
    return !entry.mountPoint.empty() && entry.mountPoint[0] == '/';
}

bool IsSameOrBelow(const fs::path& path, const fs::path& folder) {
    auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return f == folder.end();
}

// The entry whose mount point is the longest one above path; -1 when none is.
int MountHolding(const std::vector<MountEntry>& mounts, const fs::path& path) {
    int best = -1;
    size_t bestLength = 0;
    for (size_t i = 0; i < mounts.size(); ++i) {
        const std::string& point = mounts[i].mountPoint;
        if (IsSameOrBelow(path, point) && (best < 0 || point.size() > bestLength)) {
            best = static_cast<int>(i);
            bestLength = point.size();
        }
    }
    return best;
}

std::string TileName(const fs::path& mountPoint) {
    fs::path trimmed = mountPoint;
    if (!trimmed.has_filename() && trimmed.has_parent_path() && trimmed != trimmed.root_path()) {
        trimmed = trimmed.parent_path();
    }
    std::string name = trimmed.filename().string();
    return name.empty() ? std::string("/") : name;
}

int MostFree(const std::vector<DriveTile>& drives) {
    int best = -1;
    for (size_t i = 0; i < drives.size(); ++i) {
        if (best < 0 || drives[i].freeBytes > drives[static_cast<size_t>(best)].freeBytes) {
            best = static_cast<int>(i);
        }
    }
    return best;
}

// Marks the drive holding home, adding it when the choice left its file system out.
void MarkHome(DriveList& list, const std::vector<MountEntry>& all,
              const std::vector<MountEntry>& kept, const fs::path& home,
              const DriveSpaceQuery& space) {
    int holder = MountHolding(all, home);
    if (holder >= 0) {
        const MountEntry& mount = all[static_cast<size_t>(holder)];
        // The same mount point, or the kept mount of the same device (home on a bind mount).
        fs::path shown = mount.mountPoint;
        for (const MountEntry& k : kept) {
            if (k.major == mount.major && k.minor == mount.minor) {
                shown = k.mountPoint;
            }
        }
        for (DriveTile& tile : list.drives) {
            if (tile.mountPoint == shown) {
                tile.holdsHome = true;
                return;
            }
        }
    }
    fs::path point = holder >= 0 ? fs::path(all[static_cast<size_t>(holder)].mountPoint) : home;
    DriveSpace size = space ? space(home) : DriveSpace{};
    list.drives.push_back({point, TileName(point), size.totalBytes, size.freeBytes, true});
}

} // namespace

bool MountEntry::IsReadOnly() const {
    return HasOption(options, "ro") || HasOption(superOptions, "ro");
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        MountEntry entry;
        if (ParseLine(text.substr(start, end - start), entry)) {
            entries.push_back(std::move(entry));
        }
        start = end + 1;
    }
    return entries;
}

std::vector<MountEntry> SelectPhotoMounts(const std::vector<MountEntry>& mounts) {
    std::vector<MountEntry> kept;
    for (const MountEntry& entry : mounts) {
        if (entry.IsReadOnly() || kPseudoTypes.count(entry.fsType) != 0 ||
            kNetworkTypes.count(entry.fsType) != 0 || IsSystemFolder(entry.mountPoint)) {
            continue;
        }
        // A later mount on the same point hides the earlier one.
        kept.erase(
            std::remove_if(kept.begin(), kept.end(),
                           [&](const MountEntry& k) { return k.mountPoint == entry.mountPoint; }),
            kept.end());
        auto same = std::find_if(kept.begin(), kept.end(), [&](const MountEntry& k) {
            return k.major == entry.major && k.minor == entry.minor;
        });
        if (same == kept.end()) {
            kept.push_back(entry);
            continue;
        }
        // One device, several mounts: the whole file system wins, then the shorter path.
        bool better = (entry.root == "/" && same->root != "/") ||
                      ((entry.root == "/") == (same->root == "/") &&
                       entry.mountPoint.size() < same->mountPoint.size());
        if (better) {
            *same = entry;
        }
    }
    return kept;
}

DriveSpace QueryDriveSpace(const fs::path& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0) {
        return {};
    }
    uint64_t unit = info.f_frsize != 0 ? info.f_frsize : info.f_bsize;
    return {true, static_cast<uint64_t>(info.f_blocks) * unit,
            static_cast<uint64_t>(info.f_bavail) * unit};
}

DriveList ListDrives(std::string_view mountInfo, const fs::path& home, const DriveSpaceQuery& space,
                     size_t maxTiles) {
    std::vector<MountEntry> all = ParseMountInfo(mountInfo);
    std::vector<MountEntry> kept = SelectPhotoMounts(all);
    DriveList list;
    for (const MountEntry& entry : kept) {
        DriveSpace size = space ? space(entry.mountPoint) : DriveSpace{};
        if (!size.known) {
            continue;
        }
        list.drives.push_back(
            {entry.mountPoint, TileName(entry.mountPoint), size.totalBytes, size.freeBytes, false});
    }
    if (!home.empty() && home.is_absolute()) {
        MarkHome(list, all, kept, home, space);
    }
    std::stable_sort(
        list.drives.begin(), list.drives.end(),
        [](const DriveTile& a, const DriveTile& b) { return a.mountPoint < b.mountPoint; });
    int recommended = MostFree(list.drives);
    if (list.drives.size() > maxTiles && maxTiles > 0) {
        // Keep the recommended and the home drive, then the most free space.
        std::vector<size_t> order(list.drives.size());
        for (size_t i = 0; i < order.size(); ++i) {
            order[i] = i;
        }
        auto rank = [&](size_t i) {
            return static_cast<int>(i == static_cast<size_t>(recommended)) * 2 +
                   static_cast<int>(list.drives[i].holdsHome);
        };
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            if (rank(a) != rank(b)) {
                return rank(a) > rank(b);
            }
            return list.drives[a].freeBytes > list.drives[b].freeBytes;
        });
        order.resize(maxTiles);
        std::sort(order.begin(), order.end());
        std::vector<DriveTile> shown;
        for (size_t i : order) {
            shown.push_back(list.drives[i]);
        }
        list.drives = std::move(shown);
        recommended = MostFree(list.drives);
    }
    list.recommended = recommended;
    return list;
}

DriveList ListSystemDrives() {
    const char* table = std::getenv("VELLUMO_MOUNT_TABLE");
    std::ifstream in(table != nullptr && table[0] != '\0' ? table : "/proc/self/mountinfo",
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    const char* home = std::getenv("HOME");
    return ListDrives(text.str(), home != nullptr ? fs::path(home) : fs::path(), QueryDriveSpace);
}
