// bench_library: measurements of the photo library, driven by run.sh.
//   gen-photos DIR COUNT MIN MAX   COUNT distinct JPEGs of MIN..MAX bytes (kept between runs)
//   import SRC WORK                QueueImport of every file in SRC against cp + md5sum
//   make-library ROOT ROWS         a library file with ROWS image rows and its time line
//   open ROOT                      OpenLibrary, resident memory, SaveIndexes, time-line reads

#include "library/CHBrowseIndexes.h"
#include "library/CHDBCenter.h"
#include "library/ISQLite3.h"
#include "media/JsonText.h"

#include "platform/FileSystem.h"
#include "tests/support/TestImages.h"

#include <jpeglib.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// EXIF block with a date, so photos are filed by their taken time as a camera's would be.
std::string WithExifDate(const std::string& jpeg, int index) {
    char date[32];
    std::snprintf(date, sizeof date, "20%02d:%02d:%02d 10:00:00", 10 + index % 10, 1 + index % 12,
                  1 + index % 28);
    std::string tiff("II*\0\x08\0\0\0\x01\0\x32\x01\x02\0\x14\0\0\0\x1A\0\0\0\0\0\0\0", 26);
    tiff += std::string(date, 19) + '\0';
    std::string payload = std::string("Exif\0\0", 6) + tiff;
    size_t length = payload.size() + 2;
    std::string segment = "\xFF\xE1";
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    return jpeg.substr(0, 2) + segment + payload + jpeg.substr(2);
}

int GenPhotos(const fs::path& dir, int count, int64_t minBytes, int64_t maxBytes) {
    fs::create_directories(dir);
    // A few distinct encodings of different sizes; every file gets its own bytes after the
    // end-of-image marker, so each has its own digest (as every real photo does).
    constexpr int kBases = 16;
    std::vector<std::string> bases;
    for (int b = 0; b < kBases; ++b) {
        bases.push_back(
            MakeTestJpegOfSize(minBytes + (maxBytes - minBytes) * (2 * b + 1) / (2 * kBases),
                               static_cast<uint32_t>(100 + b)));
    }
    for (int i = 0; i < count; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        std::string bytes = WithExifDate(bases[i % kBases], i);
        bytes += "unique-trailer-" + std::to_string(i);
        if (!WriteWholeFile(dir / name, bytes)) {
            std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

int64_t TotalBytes(const std::vector<fs::path>& files) {
    int64_t total = 0;
    for (const auto& file : files) {
        total += static_cast<int64_t>(fs::file_size(file));
    }
    return total;
}

// cp of every file into an empty folder, then md5sum over the copies.
double Baseline(const fs::path& src, const fs::path& dst) {
    fs::remove_all(dst);
    fs::create_directories(dst);
    auto start = Clock::now();
    pid_t child = fork();
    if (child == 0) {
        const std::string script = "cp \"$1\"/* \"$2\"/ && md5sum \"$2\"/* >/dev/null";
        execl("/bin/sh", "sh", "-c", script.c_str(), "sh", src.c_str(), dst.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    double seconds = Seconds(start);
    fs::remove_all(dst);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

// Every file through QueueImport into an empty library; localhost copies, phones move.
double Ours(const std::vector<fs::path>& files, const fs::path& root, const std::string& key,
            int& stored) {
    fs::remove_all(root);
    fs::create_directories(root / "Repos");
    fs::create_directories(root / "Thumb");
    CHDBCenter db;
    db.SetServicePort(-1);
    db.OpenLibrary(root);
    if (key != CHDBCenter::kLocalKey) {
        db.SetAuth(key, 1, "Phone");
    }
    auto start = Clock::now();
    for (const auto& file : files) {
        db.QueueImport(file, key, nullptr, 0, file.filename().string());
    }
    db.WaitIdle(600000);
    double seconds = Seconds(start);
    int64_t bytes = 0;
    db.GetStatistics(stored, bytes, nullptr);
    return seconds;
}

int Import(const fs::path& src, const fs::path& work) {
    const std::vector<fs::path> files = FilesIn(src);
    const int64_t bytes = TotalBytes(files);
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    double baseline = 1e9, copy = 1e9, move = 1e9;
    int storedCopy = 0, storedMove = 0;
    for (int round = 0; round < 2; ++round) {
        baseline = std::min(baseline, Baseline(src, work / "cp"));
        copy = std::min(copy, Ours(files, work / "lib-copy", CHDBCenter::kLocalKey, storedCopy));
        // Uploads arrive as temporary files on the same disk and are moved in.
        fs::path staging = work / "staging";
        fs::remove_all(staging);
        fs::create_directories(staging);
        std::vector<fs::path> staged;
        for (const auto& file : files) {
            staged.push_back(staging / file.filename());
            fs::copy_file(file, staged.back());
        }
        move = std::min(move, Ours(staged, work / "lib-move", "phone", storedMove));
        fs::remove_all(staging);
    }
    fs::remove_all(work / "lib-copy");
    fs::remove_all(work / "lib-move");
    std::printf("import files %zu  bytes %.0f MiB\n", files.size(), mib);
    std::printf("import baseline_s %.3f  (cp then md5sum, %.0f MiB/s)\n", baseline, mib / baseline);
    std::printf("import localhost_s %.3f  stored %d  (copy+digest+exif+row, %.0f MiB/s)  "
                "ratio %.2f\n",
                copy, storedCopy, mib / copy, baseline / copy);
    std::printf("import phone_s %.3f  stored %d  (move+digest+exif+row, %.0f MiB/s)  "
                "ratio %.2f\n",
                move, storedMove, mib / move, baseline / move);
    return storedCopy == static_cast<int>(files.size()) &&
                   storedMove == static_cast<int>(files.size())
               ? 0
               : 1;
}

std::string RandomHex(std::mt19937_64& random) {
    static const char* digits = "0123456789ABCDEF";
    std::string text(32, '0');
    for (char& c : text) {
        c = digits[random() & 15];
    }
    return text;
}

int MakeLibrary(const fs::path& root, int rows) {
    fs::remove_all(root);
    fs::create_directories(root / "Repos");
    fs::create_directories(root / "Thumb");
    {
        CHDBCenter db; // the schema, exactly as the program creates it
        db.SetServicePort(-1);
        db.OpenLibrary(root);
        db.SetAuth("phone-key", 1, "Phone");
    }
    auto db = CreateISQLite3();
    if (!db->Open(root / CHDBCenter::kLibraryFileName)) {
        return 1;
    }
    std::mt19937_64 random(42);
    CHBrowseIndexes indexes;
    db->Exec("BEGIN;");
    const std::string exif =
        "{\"Aperture\":\"2.275007\",\"ColorSpace\":\"sRGB\",\"DateTime\":\"2015:06:15 "
        "10:00:00\",\"EquipMake\":\"Phone Maker\",\"EquipModel\":\"Phone Model 5\","
        "\"ExposureProg\":\"程序\",\"ExposureTime\":\"1/120\",\"FNumber\":\"F2.2\",\"Flash\":"
        "\"无闪光\",\"FocalLength\":\" 4.2mm\",\"ISOSpeed\":\"100\",\"ImageSize\":\"4032×3024\","
        "\"MeteringMode\":\"中央重点平均测光\",\"Orientation\":\"正常\",\"ShutterSpeed\":"
        "\"6.906891\",\"TakenTime\":1434362400,\"XResolution\":\" 72.0 dpi\",\"YResolution\":"
        "\" 72.0 dpi\"}\n";
    const int64_t start = 1262304000; // 2010-01-01
    for (int i = 1; i <= rows; ++i) {
        int64_t taken = start + static_cast<int64_t>(random() % (10LL * 365 * 86400));
        char path[64];
        std::snprintf(path, sizeof path, "\\Phone\\IMG_%06d.JPG", i);
        std::string md5 = RandomHex(random);
        db->Exec("INSERT INTO images(md5, time, path, exif, source, size) VALUES(?, ?, ?, ?, ?, "
                 "?);",
                 {md5, taken, std::string_view(path), exif, std::string_view("phone-key"),
                  int64_t{3000000 + i}});
        db->Exec("INSERT INTO devices(device, pid) VALUES(?, ?);",
                 {std::string_view("phone-key"), int64_t{i}});
        db->Exec("INSERT INTO verify(md5, pid) VALUES(?, ?);", {RandomHex(random), int64_t{i}});
        std::time_t t = static_cast<std::time_t>(taken);
        std::tm local{};
        localtime_r(&t, &local);
        indexes.AddTimePid(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, i);
    }
    db->Exec("REPLACE INTO config(key, value) VALUES('timeCache', ?);",
             {JsonCompact(indexes.GetTree(CHBrowseIndexes::kTime))});
    if (!db->Exec("COMMIT;")) {
        return 1;
    }
    db->Close();
    return 0;
}

double ResidentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return 0;
}

template <typename F> double MicrosPerCall(int calls, F&& call) {
    auto start = Clock::now();
    for (int i = 0; i < calls; ++i) {
        call();
    }
    return Seconds(start) * 1e6 / calls;
}

int Open(const fs::path& root) {
    const double before = ResidentMiB();
    CHDBCenter db;
    db.SetServicePort(-1);
    auto start = Clock::now();
    db.OpenLibrary(root);
    const double openSeconds = Seconds(start);
    const double after = ResidentMiB();
    int count = 0;
    int64_t bytes = 0;
    db.GetStatistics(count, bytes, nullptr);

    double saveMs = 1e9;
    for (int i = 0; i < 5; ++i) {
        auto t = Clock::now();
        db.SaveIndexes();
        saveMs = std::min(saveMs, Seconds(t) * 1000.0);
    }
    NameList names;
    PidList pids;
    const double years = MicrosPerCall(2000, [&] { db.ListYears(names); });
    const double days = MicrosPerCall(2000, [&] { db.ListDays("2015", "06", names); });
    const double dayPids = MicrosPerCall(2000, [&] {
        pids.clear();
        db.GetTimePids("2015/06/15", pids);
    });
    std::printf("open rows %d  open_s %.3f  rss_mib %.1f  (before open %.1f)\n", count, openSeconds,
                after, before);
    std::printf("open save_indexes_ms %.2f  list_years_us %.2f  list_days_us %.2f  "
                "day_pids_us %.2f (%zu pids)\n",
                saveMs, years, days, dayPids, pids.size());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "gen-photos") {
        return GenPhotos(args[1], std::atoi(args[2].c_str()), std::atoll(args[3].c_str()),
                         std::atoll(args[4].c_str()));
    }
    if (args.size() == 3 && args[0] == "import") {
        return Import(args[1], args[2]);
    }
    if (args.size() == 3 && args[0] == "make-library") {
        return MakeLibrary(args[1], std::atoi(args[2].c_str()));
    }
    if (args.size() == 2 && args[0] == "open") {
        return Open(args[1]);
    }
    std::fprintf(stderr, "usage: bench_library gen-photos DIR COUNT MIN MAX | import SRC WORK | "
                         "make-library ROOT ROWS | open ROOT\n");
    return 2;
}
