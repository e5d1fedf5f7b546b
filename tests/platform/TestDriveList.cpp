// The mount table parser and the choice of drives, on synthetic tables at their edges.

#include "platform/DriveList.h"

#include <gtest/gtest.h>

#include <map>

namespace {

constexpr uint64_t kGiB = 1ull << 30;

std::string Line(int id, const std::string& device, const std::string& root,
                 const std::string& point, const std::string& type,
                 const std::string& options = "rw,relatime", const std::string& optional = "") {
    return std::to_string(id) + " 1 " + device + " " + root + " " + point + " " + options + " " +
           (optional.empty() ? "" : optional + " ") + "- " + type + " /dev/x rw\n";
}

std::vector<std::string> Points(const std::vector<MountEntry>& entries) {
    std::vector<std::string> points;
    for (const MountEntry& e : entries) {
        points.push_back(e.mountPoint);
    }
    return points;
}

std::vector<std::string> Points(const DriveList& list) {
    std::vector<std::string> points;
    for (const DriveTile& t : list.drives) {
        points.push_back(t.mountPoint.string());
    }
    return points;
}

// Free space by mount point; every other folder is unknown.
DriveSpaceQuery FakeSpace(std::map<std::string, uint64_t> freeGiB) {
    return [freeGiB](const fs::path& point) {
        auto it = freeGiB.find(point.string());
        if (it == freeGiB.end()) {
            return DriveSpace{};
        }
        return DriveSpace{true, 1000 * kGiB, it->second * kGiB};
    };
}

} // namespace

TEST(MountInfo, FieldsEscapesAndOptionalFields) {
    std::string text =
        "36 35 98:0 /mnt1 /mnt/My\\040Photos rw,noatime master:1 shared:7 - ext3 /dev/root "
        "rw,errors=continue\n"
        "37 35 8:17 / /media/a\\134b\\011c rw - ext4 /dev/sdb1 rw\n"
        // Not escapes: too short, not octal, above one byte.
        "38 35 8:18 / /media/x\\08y\\777\\04 rw - ext4 /dev/sdb2 rw\n"
        "39 35 8:19 / /media/no-super rw - ext4 /dev/sdb3";
    std::vector<MountEntry> entries = ParseMountInfo(text);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].id, 36);
    EXPECT_EQ(entries[0].parentId, 35);
    EXPECT_EQ(entries[0].major, 98u);
    EXPECT_EQ(entries[0].minor, 0u);
    EXPECT_EQ(entries[0].root, "/mnt1");
    EXPECT_EQ(entries[0].mountPoint, "/mnt/My Photos");
    EXPECT_EQ(entries[0].fsType, "ext3");
    EXPECT_EQ(entries[0].source, "/dev/root");
    EXPECT_EQ(entries[0].superOptions, "rw,errors=continue");
    EXPECT_EQ(entries[1].mountPoint, "/media/a\\b\tc");
    EXPECT_EQ(entries[2].mountPoint, "/media/x\\08y\\777\\04");
    EXPECT_EQ(entries[3].superOptions, "");
}

TEST(MountInfo, MalformedLinesAreSkipped) {
    const char* bad[] = {
        "",
        "36 35 98:0 /mnt1 /mnt2 rw master:1 ext3 /dev/root rw", // no separator
        "36 35 98:0 /mnt1 /mnt2 rw - ext3",                     // nothing after the type
        "x 35 98:0 / /mnt2 rw - ext3 /dev/root rw",             // id not a number
        "36 35 98 / /mnt2 rw - ext3 /dev/root rw",              // device without a colon
        "36 35 98:z / /mnt2 rw - ext3 /dev/root rw",            // minor not a number
        "36 35 98:0 / relative rw - ext3 /dev/root rw",         // not an absolute mount point
        "36 35 4294967296:0 / /mnt2 rw - ext3 /dev/root rw",    // major above 32 bits
    };
    for (const char* line : bad) {
        EXPECT_TRUE(ParseMountInfo(line).empty()) << line;
    }
    // A bad line between good ones costs only itself; CR/LF and blank runs are tolerated.
    std::string text = Line(1, "8:1", "/", "/", "ext4") + bad[1] + "\n\n" +
                       "2  1\t8:2 / /data rw - xfs /dev/sdb rw\n";
    EXPECT_EQ(Points(ParseMountInfo(text)), (std::vector<std::string>{"/", "/data"}));
}

TEST(MountInfo, OnlyLocalWritableUserFileSystemsAreOffered) {
    std::string text = Line(1, "8:1", "/", "/", "ext4") +         //
                       Line(2, "0:5", "/", "/proc", "proc") +     //
                       Line(3, "0:6", "/", "/tmp", "tmpfs") +     //
                       Line(4, "8:2", "/", "/boot/efi", "vfat") + //
                       Line(5, "7:0", "/", "/snap/core/1", "squashfs", "ro,nodev") +
                       Line(6, "0:50", "/", "/mnt/nas", "nfs4") + //
                       Line(7, "0:51", "/", "/home/u/remote", "fuse.sshfs") +
                       Line(8, "8:33", "/", "/media/u/Win", "fuseblk") +
                       Line(9, "8:49", "/", "/run/media/u/USB", "exfat") +
                       Line(10, "0:52", "/", "/run/user/1000/doc", "fuse.portal") +
                       Line(11, "8:65", "/", "/mnt/cdrom", "ext4", "ro,relatime") +
                       Line(12, "8:81", "/", "/srv/archive", "ext4", "rw", "shared:3") +
                       Line(13, "0:60", "/", "/container", "overlay") +
                       // Super-block read-only counts as well.
                       "14 1 8:97 / /mnt/old rw - ext4 /dev/sdg ro\n";
    EXPECT_EQ(Points(SelectPhotoMounts(ParseMountInfo(text))),
              (std::vector<std::string>{"/", "/media/u/Win", "/run/media/u/USB", "/srv/archive"}));
}

TEST(MountInfo, BindMountsAndSubvolumesOfOneDeviceCountOnce) {
    // The bind mount comes first; the whole file system still wins.
    std::string text =
        Line(1, "8:1", "/home/u/pics", "/srv/pics", "ext4") + Line(2, "8:1", "/", "/", "ext4") +
        Line(3, "8:1", "/var/www", "/var/www", "ext4") +
        // btrfs subvolumes: the shorter mount point stays.
        Line(4, "0:40", "/@home", "/data/home", "btrfs") + Line(5, "0:40", "/@", "/data", "btrfs") +
        // A second mount on the same point hides the first.
        Line(6, "8:2", "/", "/media/disk", "ext4") + Line(7, "8:3", "/", "/media/disk", "ext4");
    std::vector<MountEntry> kept = SelectPhotoMounts(ParseMountInfo(text));
    EXPECT_EQ(Points(kept), (std::vector<std::string>{"/", "/data", "/media/disk"}));
    EXPECT_EQ(kept[2].minor, 3u);
}

TEST(DriveList, HomeIsAlwaysOfferedAndTheMostFreeIsRecommended) {
    std::string text = Line(1, "8:1", "/", "/", "ext4") + Line(2, "8:2", "/", "/home", "ext4") +
                       Line(3, "8:3", "/", "/media/b", "ext4") +
                       Line(4, "8:4", "/", "/media/a", "ext4");
    DriveList list = ListDrives(
        text, "/home/u", FakeSpace({{"/", 10}, {"/home", 50}, {"/media/a", 50}, {"/media/b", 40}}));
    EXPECT_EQ(Points(list), (std::vector<std::string>{"/", "/home", "/media/a", "/media/b"}));
    EXPECT_TRUE(list.drives[1].holdsHome);
    EXPECT_FALSE(list.drives[0].holdsHome);
    EXPECT_EQ(list.recommended, 1); // a tie with /media/a: the first in order
    EXPECT_EQ(list.drives[2].name, "a");
    EXPECT_EQ(list.drives[0].name, "/");
    EXPECT_EQ(list.drives[2].freeBytes, 50 * kGiB);
    EXPECT_EQ(list.drives[2].totalBytes, 1000 * kGiB);

    // Home on a file system the table leaves out (a tmpfs) or does not list at all.
    std::string tmpHome = Line(1, "8:1", "/", "/", "ext4") + Line(2, "0:9", "/", "/tmp", "tmpfs");
    list = ListDrives(tmpHome, "/tmp/h", FakeSpace({{"/", 10}, {"/tmp/h", 3}}));
    EXPECT_EQ(Points(list), (std::vector<std::string>{"/", "/tmp"}));
    EXPECT_TRUE(list.drives[1].holdsHome);
    EXPECT_EQ(list.drives[1].freeBytes, 3 * kGiB);
    list = ListDrives("", "/home/u", FakeSpace({{"/home/u", 3}}));
    EXPECT_EQ(Points(list), (std::vector<std::string>{"/home/u"}));
    EXPECT_EQ(list.drives[0].name, "u");
    EXPECT_EQ(list.recommended, 0);

    // Nothing known at all: no drive, none recommended.
    list = ListDrives("", "", FakeSpace({}));
    EXPECT_TRUE(list.drives.empty());
    EXPECT_EQ(list.recommended, -1);
    // A mount whose size cannot be read is not offered.
    list = ListDrives(Line(1, "8:1", "/", "/media/gone", "ext4"), "", FakeSpace({}));
    EXPECT_TRUE(list.drives.empty());
}

TEST(DriveList, AtMostEightTilesKeepTheRecommendedAndHome) {
    std::string text = Line(1, "8:1", "/", "/", "ext4");
    std::map<std::string, uint64_t> space{{"/", 1}};
    for (int i = 0; i < 12; ++i) {
        std::string point = "/media/d" + std::to_string(10 + i);
        text += Line(2 + i, "8:" + std::to_string(16 + i), "/", point, "ext4");
        space[point] = 100 + static_cast<uint64_t>(i);
    }
    // The one with most space sorts last; home ("/") has the least.
    space["/media/d21"] = 900;
    DriveList list = ListDrives(text, "/root", FakeSpace(space));
    ASSERT_EQ(list.drives.size(), kMaxDriveTiles);
    EXPECT_EQ(list.drives.front().mountPoint, "/");
    EXPECT_EQ(list.drives.back().mountPoint, "/media/d21");
    EXPECT_EQ(list.recommended, 7);
    // The others kept are those with the most space, still in mount point order.
    EXPECT_EQ(list.drives[1].mountPoint, "/media/d15");
    EXPECT_EQ(list.drives[6].mountPoint, "/media/d20");
}
