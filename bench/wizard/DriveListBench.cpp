// Lists the wizard's drives from a synthetic mount table of 50 entries whose mount points are
// real folders (so statvfs runs for each kept one, as on a real system). Writes the table to
// the given file for comparison with findmnt, then prints the median of 101 listings in ms.

#include "platform/DriveList.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A plausible desktop table: the system's pseudo mounts, snaps, a network share, bind mounts
// and a handful of real disks, 50 lines in all.
std::string SyntheticTable(const fs::path& base) {
    std::string text;
    int id = 20;
    auto line = [&](const std::string& device, const std::string& root, const std::string& point,
                    const std::string& type, const std::string& options) {
        text += std::to_string(id++) + " 1 " + device + " " + root + " " + point + " " + options +
                " shared:1 - " + type + " /dev/x rw\n";
    };
    line("0:5", "/", "/proc", "proc", "rw,nosuid");
    line("0:6", "/", "/sys", "sysfs", "rw,nosuid");
    line("0:7", "/", "/dev", "devtmpfs", "rw,nosuid");
    line("0:8", "/", "/run", "tmpfs", "rw,nosuid");
    line("0:9", "/", "/dev/shm", "tmpfs", "rw,nosuid");
    for (int i = 0; i < 12; ++i) {
        line("0:" + std::to_string(30 + i), "/", "/sys/fs/cgroup/c" + std::to_string(i), "cgroup",
             "rw");
    }
    for (int i = 0; i < 14; ++i) {
        line("7:" + std::to_string(i), "/", "/snap/app" + std::to_string(i) + "/1", "squashfs",
             "ro,nodev");
    }
    line("0:60", "/", "/mnt/nas", "nfs4", "rw");
    line("8:1", "/", (base / "root").string(), "ext4", "rw,relatime");
    line("8:1", "/home", (base / "bind").string(), "ext4", "rw,relatime");
    for (int i = 0; i < 16; ++i) {
        fs::path point = base / ("disk" + std::to_string(i));
        fs::create_directories(point);
        line("8:" + std::to_string(16 + i), "/", point.string(), i % 3 == 0 ? "xfs" : "ext4",
             "rw,relatime");
    }
    fs::create_directories(base / "root");
    fs::create_directories(base / "bind");
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_drivelist WORK_DIR TABLE_FILE\n");
        return 2;
    }
    fs::path base = argv[1];
    std::string table = SyntheticTable(base);
    std::ofstream(argv[2], std::ios::binary) << table;
    std::vector<double> runs;
    size_t drives = 0;
    for (int i = 0; i < 101; ++i) {
        auto start = std::chrono::steady_clock::now();
        DriveList list = ListDrives(table, base / "root" / "home", QueryDriveSpace);
        auto end = std::chrono::steady_clock::now();
        drives = list.drives.size();
        runs.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(runs.begin(), runs.end());
    size_t lines = static_cast<size_t>(std::count(table.begin(), table.end(), '\n'));
    std::printf("%zu entries, %zu drives offered\n%.3f\n", lines, drives, runs[runs.size() / 2]);
    return 0;
}
