// bench_endpoints: the phone endpoints end to end over HTTP on loopback, driven by run.sh.
//   gen-photos DIR COUNT MIN MAX    COUNT distinct JPEGs of MIN..MAX bytes
//   upload SRC WORK PARALLEL        every file of SRC posted to "/import" by PARALLEL phones,
//                                   timed until the library has stored them all
//   make-library ROOT ROWS          a library with ROWS photos of two phones, a time line over
//                                   ten years and a known token "tok-%06d" per photo
//   verify ROOT TOKENS RUNS         "/verify" with TOKENS known tokens, median of RUNS
//   date ROOT RUNS                  "/date" without and with a device filter, medians
//   thumb-server WORK               serves one photo with its 150x150 thumbnail stored; prints
//                                   "port N" and "pid P", runs until SIGINT or SIGTERM

#include "library/CHBrowseIndexes.h"
#include "library/CHDBCenter.h"
#include "library/ISQLite3.h"
#include "media/JsonText.h"
#include "net/CHWebServer.h"
#include "net/PhoneEndpoints.h"
#include "platform/Dialogs.h"
#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"
#include "tests/support/NullMainWnd.h"

#include "platform/FileSystem.h"
#include "tests/support/TestImages.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <jpeglib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDevice[] = "bench-phone";
constexpr char kOtherDevice[] = "bench-tablet";

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// ---------------------------------------------------------------------------------------------
// Photos

int GenPhotos(const fs::path& dir, int count, int64_t minBytes, int64_t maxBytes) {
    fs::create_directories(dir);
    // A few encodings of different sizes; a comment segment right after the start marker gives
    // every file its own bytes and digest.
    constexpr int kBases = 12;
    std::vector<std::string> bases;
    for (int b = 0; b < kBases; ++b) {
        bases.push_back(
            MakeTestJpegOfSize(minBytes + (maxBytes - minBytes) * (2 * b + 1) / (2 * kBases),
                               static_cast<uint32_t>(100 + b)));
    }
    for (int i = 0; i < count; ++i) {
        const std::string text = "bench photo " + std::to_string(i);
        std::string comment = "\xFF\xFE";
        comment += static_cast<char>((text.size() + 2) >> 8);
        comment += static_cast<char>((text.size() + 2) & 0xFF);
        comment += text;
        const std::string& base = bases[i % kBases];
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        if (!WriteWholeFile(dir / name, base.substr(0, 2) + comment + base.substr(2))) {
            std::fprintf(stderr, "cannot write %s\n", (dir / name).c_str());
            return 1;
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The PC side: a library with its web server and the phone endpoints, and a controller that
// queues received files like the real one.

class QueueingMainWnd : public NullMainWnd {
public:
    fs::path root;
    fs::path GetRootPath() override { return root; }
    void ImportUpload(const fs::path& file, const std::string& deviceKey, const std::string& token,
                      std::function<void(int64_t)> done) override {
        IDBCenter* db = GetDBCenter();
        if (db == nullptr) {
            done(0);
            return;
        }
        db->QueueImportDone(
            file, deviceKey, [](int, int, int, const fs::path&, const std::string&, intptr_t) {}, 0,
            token, std::move(done));
    }
    int ImportFileWithProgress(const fs::path& file, const std::string& deviceKey,
                               const std::string& extra) override {
        IDBCenter* db = GetDBCenter();
        return db != nullptr
                   ? db->QueueImport(
                         file, deviceKey,
                         [](int, int, int, const fs::path&, const std::string&, intptr_t) {}, 0,
                         extra)
                   : 0;
    }
};

struct Service {
    CNotifyHub hub;
    QueueingMainWnd mainWnd;
    CHDBCenter db;
    int port = 0;

    bool Start(const fs::path& root) {
        fs::create_directories(root / "Repos");
        fs::create_directories(root / "Thumb");
        db.SetServicePort(0);
        mainWnd.root = root;
        PublishAccessPoints(&mainWnd, &db, nullptr, &hub);
        if (db.GetWebServer() == nullptr) {
            return false;
        }
        RegisterPhoneEndpoints(*db.GetWebServer());
        if (db.OpenLibrary(root) != 1 || !db.GetWebServer()->WaitListening(10000)) {
            return false;
        }
        port = db.GetWebServer()->BoundPort();
        return true;
    }
    ~Service() {
        db.WaitIdle(600000);
        ClearAccessPoints();
    }
};

// One request per connection, as the phone sends them; the answer's body. The body is the text
// given, or the file given (sent by the kernel: the phone's own work is not the PC's).
bool Exchange(int port, const std::string& head, const std::string& body, const fs::path& file,
              std::string& answer) {
    answer.clear();
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.2", &local.sin_addr); // another machine: the gate applies
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
        ::close(fd);
        return false;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    bool ok = true;
    for (const std::string* part : {&head, &body}) {
        size_t sent = 0;
        while (ok && sent < part->size()) {
            ssize_t n = ::send(fd, part->data() + sent, part->size() - sent, MSG_NOSIGNAL);
            ok = n > 0;
            sent += ok ? static_cast<size_t>(n) : 0;
        }
    }
    if (ok && !file.empty()) {
        int in = ::open(file.c_str(), O_RDONLY);
        struct stat info {};
        ok = in >= 0 && ::fstat(in, &info) == 0;
        off_t offset = 0;
        while (ok && offset < info.st_size) {
            ssize_t n = ::sendfile(fd, in, &offset, static_cast<size_t>(info.st_size - offset));
            ok = n > 0;
        }
        if (in >= 0) {
            ::close(in);
        }
    }
    std::string raw;
    char buffer[65536];
    for (ssize_t n; ok && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        raw.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    size_t blank = raw.find("\r\n\r\n");
    if (!ok || raw.rfind("HTTP/1.1 200 OK\r\n", 0) != 0 || blank == std::string::npos) {
        return false;
    }
    answer = raw.substr(blank + 4);
    return true;
}

bool Get(int port, const std::string& target, std::string& answer) {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: pc\r\n\r\n", "", {}, answer);
}

bool Post(int port, const std::string& target, const std::string& body, std::string& answer) {
    return Exchange(port,
                    "POST " + target + " HTTP/1.1\r\nHost: pc\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n\r\n",
                    body, {}, answer);
}

bool PostFile(int port, const std::string& target, const fs::path& file, int64_t size,
              std::string& answer) {
    return Exchange(port,
                    "POST " + target + " HTTP/1.1\r\nHost: pc\r\nContent-Length: " +
                        std::to_string(size) + "\r\n\r\n",
                    "", file, answer);
}

bool Pair(Service& service, const std::string& key) {
    service.db.SetConfig("auth_passwd", "bench");
    std::string answer;
    return Get(service.port, "/auth?key=" + key + "&passwd=bench&type=1&modal=Bench", answer);
}

// ---------------------------------------------------------------------------------------------

int Upload(const fs::path& src, const fs::path& work, int parallel) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(src)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    fs::remove_all(work);
    fs::create_directories(work / "tmp");
    setenv("TMPDIR", (work / "tmp").c_str(), 1);

    Service service;
    if (!service.Start(work / "root") || !Pair(service, kDevice)) {
        std::fprintf(stderr, "upload: service did not start\n");
        return 1;
    }
    std::atomic<size_t> next{0};
    std::atomic<int64_t> bytes{0};
    std::atomic<int> failures{0};
    const auto start = Clock::now();
    std::vector<std::thread> phones;
    for (int p = 0; p < parallel; ++p) {
        phones.emplace_back([&] {
            for (size_t i; (i = next++) < files.size();) {
                // One photo per request with the app's counters.
                const int64_t size = static_cast<int64_t>(fs::file_size(files[i]));
                bytes += size;
                const std::string token = "tok-" + std::to_string(i);
                std::string answer;
                if (!PostFile(service.port,
                              "/import?key=" + std::string(kDevice) +
                                  "&name=" + files[i].filename().string() + "&vmd5=" + token +
                                  "&cur=" + std::to_string(i + 1) +
                                  "&total=" + std::to_string(files.size()) + "&speed=5000&time=10",
                              files[i], size, answer) ||
                    answer.find("\"ok\"") == std::string::npos) {
                    ++failures;
                }
            }
        });
    }
    for (auto& phone : phones) {
        phone.join();
    }
    const double answered = Seconds(start);
    service.db.WaitIdle(600000);
    const double seconds = Seconds(start);
    int stored = 0;
    int64_t storedBytes = 0;
    service.db.GetStatistics(stored, storedBytes, nullptr);
    std::printf("upload parallel %d files %zu stored %d failed %d bytes %lld answered_s %.3f "
                "seconds %.3f mib_s %.1f\n",
                parallel, files.size(), stored, failures.load(),
                static_cast<long long>(bytes.load()), answered, seconds,
                static_cast<double>(bytes.load()) / (1024.0 * 1024.0) / seconds);
    return stored == static_cast<int>(files.size()) && failures == 0 ? 0 : 1;
}

std::string VerifyToken(int pid) {
    char token[32];
    std::snprintf(token, sizeof token, "tok-%06d", pid);
    return token;
}

int MakeLibrary(const fs::path& root, int rows) {
    fs::remove_all(root);
    fs::create_directories(root / "Repos");
    fs::create_directories(root / "Thumb");
    {
        CHDBCenter db; // the schema exactly as the program creates it
        db.SetServicePort(-1);
        db.OpenLibrary(root);
        db.SetAuth(kDevice, 1, "Phone");
        db.SetAuth(kOtherDevice, 1, "Tablet");
    }
    auto db = CreateISQLite3();
    if (!db->Open(root / CHDBCenter::kLibraryFileName)) {
        return 1;
    }
    std::mt19937_64 random(7);
    CHBrowseIndexes indexes;
    db->Exec("BEGIN;");
    const int64_t start = 1262304000; // 2010-01-01
    for (int i = 1; i <= rows; ++i) {
        int64_t taken = start + static_cast<int64_t>(random() % (10LL * 365 * 86400));
        const char* device = i % 2 == 0 ? kDevice : kOtherDevice;
        char path[64];
        std::snprintf(path, sizeof path, "\\%s\\IMG_%06d.JPG", i % 2 == 0 ? "Phone" : "Tablet", i);
        char md5[40];
        std::snprintf(md5, sizeof md5, "%016llX%016llX", static_cast<unsigned long long>(random()),
                      static_cast<unsigned long long>(random()));
        db->Exec("INSERT INTO images(pid, md5, time, path, exif, source, size) VALUES(?, ?, ?, "
                 "?, ?, ?, ?);",
                 {int64_t{i}, std::string_view(md5), taken, std::string_view(path),
                  std::string_view("{}\n"), std::string_view(device), int64_t{3000000}});
        db->Exec("INSERT INTO devices(device, pid) VALUES(?, ?);",
                 {std::string_view(device), int64_t{i}});
        db->Exec("INSERT INTO verify(md5, pid) VALUES(?, ?);", {VerifyToken(i), int64_t{i}});
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

int Verify(const fs::path& root, int tokens, int runs) {
    Service service;
    if (!service.Start(root)) {
        return 1;
    }
    Json::Value list(Json::arrayValue);
    for (int i = 1; i <= tokens; ++i) {
        list.append(VerifyToken(i));
    }
    const std::string body = JsonCompact(list);
    const std::string target = std::string("/verify?key=") + kDevice;
    std::vector<double> known;
    std::vector<double> unknown;
    std::string answer;
    const std::string strangers = JsonCompact([&] {
        Json::Value other(Json::arrayValue);
        for (int i = 1; i <= tokens; ++i) {
            other.append("unknown-" + std::to_string(i));
        }
        return other;
    }());
    size_t members = 0;
    for (int run = 0; run < runs; ++run) {
        auto t = Clock::now();
        if (!Post(service.port, target, body, answer)) {
            return 1;
        }
        known.push_back(Seconds(t) * 1000.0);
        Json::Value parsed;
        members = JsonParse(answer, parsed) && parsed.isObject() ? parsed.size() : 0;
        t = Clock::now();
        if (!Post(service.port, target, strangers, answer) || answer != "[]\n") {
            return 1;
        }
        unknown.push_back(Seconds(t) * 1000.0);
    }
    std::printf("verify tokens %d known %zu body_kib %zu known_ms %.2f unknown_ms %.2f\n", tokens,
                members, body.size() / 1024, Median(known), Median(unknown));
    return members == static_cast<size_t>(tokens) ? 0 : 1;
}

int Date(const fs::path& root, int runs) {
    Service service;
    if (!service.Start(root)) {
        return 1;
    }
    std::vector<double> all;
    std::vector<double> filtered;
    std::string answer;
    size_t allBytes = 0;
    size_t filteredBytes = 0;
    for (int run = 0; run < runs; ++run) {
        auto t = Clock::now();
        if (!Get(service.port, std::string("/date?key=") + kDevice, answer)) {
            return 1;
        }
        all.push_back(Seconds(t) * 1000.0);
        allBytes = answer.size();
        t = Clock::now();
        if (!Get(service.port,
                 std::string("/date?key=") + kDevice + "&device=" + std::string(kDevice), answer)) {
            return 1;
        }
        filtered.push_back(Seconds(t) * 1000.0);
        filteredBytes = answer.size();
    }
    int count = 0;
    int64_t bytes = 0;
    service.db.GetStatistics(count, bytes, nullptr);
    std::printf("date photos %d all_ms %.2f all_kib %zu device_ms %.2f device_kib %zu\n", count,
                Median(all), allBytes / 1024, Median(filtered), filteredBytes / 1024);
    return count > 0 ? 0 : 1;
}

int ThumbServer(const fs::path& work) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    fs::remove_all(work);
    fs::create_directories(work / "incoming");
    const fs::path photo = work / "incoming" / "IMG_0001.JPG";
    TestJpegOptions options;
    options.width = 1600;
    options.height = 1200;
    options.seed = 5;
    options.quality = 92;
    options.noise = true;
    if (!WriteWholeFile(photo, MakeTestJpeg(options))) {
        return 1;
    }
    auto service = std::make_unique<Service>();
    if (!service->Start(work / "root")) {
        return 1;
    }
    service->db.SetAuth(kDevice, 1, "Phone");
    service->db.QueueImport(photo, kDevice, nullptr, 0, "thumb-token");
    service->db.WaitIdle(60000);
    const Pid pid = service->db.FindPidByMd5("thumb-token");
    std::string thumb;
    if (pid == 0 || !service->db.GetThumbnail(pid, 150, 150, thumb)) {
        return 1;
    }
    std::printf("port %d\npid %lld\nthumb_bytes %zu\n", service->port, static_cast<long long>(pid),
                thumb.size());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    service.reset();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    SetHeadlessMode(true);
    std::signal(SIGPIPE, SIG_IGN);
    setenv("TZ", "UTC", 1);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 5 && args[0] == "gen-photos") {
        return GenPhotos(args[1], std::atoi(args[2].c_str()), std::atoll(args[3].c_str()),
                         std::atoll(args[4].c_str()));
    }
    if (args.size() == 4 && args[0] == "upload") {
        return Upload(args[1], args[2], std::atoi(args[3].c_str()));
    }
    if (args.size() == 3 && args[0] == "make-library") {
        return MakeLibrary(args[1], std::atoi(args[2].c_str()));
    }
    if (args.size() == 4 && args[0] == "verify") {
        return Verify(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
    }
    if (args.size() == 3 && args[0] == "date") {
        return Date(args[1], std::atoi(args[2].c_str()));
    }
    if (args.size() == 2 && args[0] == "thumb-server") {
        return ThumbServer(args[1]);
    }
    std::fprintf(stderr, "usage: bench_endpoints gen-photos DIR COUNT MIN MAX | upload SRC WORK "
                         "PARALLEL | make-library ROOT ROWS | verify ROOT TOKENS RUNS | date ROOT "
                         "RUNS | thumb-server WORK\n");
    return 2;
}
