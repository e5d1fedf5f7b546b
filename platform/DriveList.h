#pragma once
// The drives the first-run wizard offers for the storage folder: the mounted local file systems
// a user would keep photos on, read from the kernel's mount table (/proc/self/mountinfo) with
// their sizes from statvfs. Parsing and choosing are pure functions of the table's text, so
// they can be tested and fuzzed without touching the machine's mounts.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

// One line of the mount table.
struct MountEntry {
    int id = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root;       // the folder of the file system that is mounted ("/" for all of it)
    std::string mountPoint; // where it is mounted, with "\040"-style escapes decoded
    std::string options;    // per-mount options ("rw,relatime")
    std::string fsType;     // "ext4", "fuse.sshfs", ...
    std::string source;
    std::string superOptions;

    bool IsReadOnly() const;
};

// Every well-formed line of a mountinfo text; malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

// The mounts worth offering: writable local file systems outside the system's own folders.
// Leaves out pseudo and memory file systems, read-only mounts, snaps and squashfs images,
// network file systems (also through FUSE), and further mounts of a device already listed
// (bind mounts, subvolumes), keeping the one that shows the whole file system.
std::vector<MountEntry> SelectPhotoMounts(const std::vector<MountEntry>& mounts);

struct DriveSpace {
    bool known = false;
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0; // what an unprivileged user may still write
};
using DriveSpaceQuery = std::function<DriveSpace(const fs::path& mountPoint)>;
// statvfs of the folder.
DriveSpace QueryDriveSpace(const fs::path& folder);

struct DriveTile {
    fs::path mountPoint;
    std::string name; // the mount point's last component ("/" for the root file system)
    uint64_t totalBytes = 0;
    uint64_t freeBytes = 0;
    bool holdsHome = false;
};

struct DriveList {
    std::vector<DriveTile> drives; // ordered by mount point
    int recommended = -1;          // the most free space, the first one on a tie; -1 when none
};

inline constexpr size_t kMaxDriveTiles = 8;

// The drives of a mount table. The file system holding home is always among them (also when
// the table leaves it out; then its mount point is home itself). At most maxTiles: the
// recommended drive and the home one are kept, then those with the most free space.
DriveList ListDrives(std::string_view mountInfo, const fs::path& home, const DriveSpaceQuery& space,
                     size_t maxTiles = kMaxDriveTiles);

// The running system's drives: /proc/self/mountinfo ($VELLUMO_MOUNT_TABLE names another table
// file, for tests) and $HOME.
DriveList ListSystemDrives();
