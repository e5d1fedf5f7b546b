// Measures the real vellumo program: exec to listening with an empty library and with a large
// one, resident memory when idle, and the time a deleted repository file takes to leave the
// library. Each figure is printed with its budget and the ratio to it.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <json/value.h>
#include <json/writer.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

int FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

bool Listening(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return ok;
}

std::string Base64(const std::string& text) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < text.size(); i += 3) {
        uint32_t v = (uint8_t(text[i]) << 16) | (uint8_t(text[i + 1]) << 8) | uint8_t(text[i + 2]);
        for (int s = 18; s >= 0; s -= 6) {
            out += alphabet[(v >> s) & 63];
        }
    }
    if (i < text.size()) {
        uint32_t v = uint8_t(text[i]) << 16;
        if (i + 1 < text.size()) {
            v |= uint8_t(text[i + 1]) << 8;
        }
        out += alphabet[(v >> 18) & 63];
        out += alphabet[(v >> 12) & 63];
        out += i + 1 < text.size() ? alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// A sandbox: HOME, XDG folders and a settings pointer file naming root.
struct Sandbox {
    fs::path base;
    fs::path root;
    int port = 0;

    explicit Sandbox(const fs::path& dir) : base(dir), root(dir / "root"), port(FreePort()) {
        for (const char* sub :
             {"home", "config/Vellumo", "data", "run", "tmp", "root/Repos", "root/Thumb"}) {
            fs::create_directories(base / sub);
        }
        std::ofstream(base / "config" / "Vellumo" / "Vellumo.cfg")
            << "{\n\t\"RootPath\" : \"" << Base64(root.string()) << "\"\n}\n";
    }
};

void Exec(sqlite3* db, const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", error != nullptr ? error : "?");
        sqlite3_free(error);
        std::exit(1);
    }
}

// A library of count photos of the PC itself, spread over days, each with its file.
void MakeLibrary(const fs::path& root, int count) {
    sqlite3* db = nullptr;
    sqlite3_open((root / "Vellumo.cfg").c_str(), &db);
    Exec(db, "CREATE TABLE config(key TEXT PRIMARY KEY, value TEXT); ");
    Exec(db, "CREATE TABLE devices(device TEXT,pid UINT64);");
    Exec(db, "CREATE TABLE images(pid INTEGER PRIMARY KEY AUTOINCREMENT, md5 TEXT, time INTEGER, "
             "path TEXT, exif TEXT, source TEXT, size INT); ");
    Exec(db, "CREATE TABLE verify(md5 TEXT PRIMARY KEY,pid INTEGER); ");
    Exec(db, "CREATE TABLE auth(key TEXT PRIMARY KEY, type INT, modal TEXT, lastImport INT, "
             "lastImportPcs INT, lastImportSize INT, lastImportUsed INT ); ");
    Exec(db, "BEGIN;");
    sqlite3_stmt* image = nullptr;
    sqlite3_prepare_v2(db,
                       "INSERT INTO images(pid, md5, time, path, exif, source, size) "
                       "VALUES(?, ?, ?, ?, ?, 'localhost', 3000000);",
                       -1, &image, nullptr);
    sqlite3_stmt* link = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO devices(device, pid) VALUES('localhost', ?);", -1, &link,
                       nullptr);
    sqlite3_stmt* verify = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO verify(md5, pid) VALUES(?, ?);", -1, &verify, nullptr);
    Json::Value timeIndex(Json::objectValue);
    const int64_t start = 1262304000; // 2010-01-01
    fs::path lastFolder;
    for (int i = 1; i <= count; ++i) {
        int64_t time = start + int64_t(i) * 1800;
        std::time_t t = static_cast<std::time_t>(time);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char year[8], month[8], day[8], folder[32], name[32], md5[40];
        std::snprintf(year, sizeof(year), "%04d", tm.tm_year + 1900);
        std::snprintf(month, sizeof(month), "%02d", tm.tm_mon + 1);
        std::snprintf(day, sizeof(day), "%02d", tm.tm_mday);
        std::snprintf(folder, sizeof(folder), "%s-%s-%s", year, month, day);
        std::snprintf(name, sizeof(name), "IMG_%06d.JPG", i);
        std::snprintf(md5, sizeof(md5), "%032X", i);
        std::string stored = std::string("\\local\\") + folder + "\\" + name;
        std::string exif = "{\"EquipMake\":\"Camera\",\"EquipModel\":\"Model 7\",\"ExifDTOrig\":"
                           "\"2013:05:01 08:30:00\",\"ImageWidth\":4000,\"ImageHeight\":3000,"
                           "\"Orientation\":1,\"TakenTime\":" +
                           std::to_string(time) + "}\n";
        sqlite3_bind_int64(image, 1, i);
        sqlite3_bind_text(image, 2, md5, -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(image, 3, time);
        sqlite3_bind_text(image, 4, stored.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(image, 5, exif.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_step(image);
        sqlite3_reset(image);
        sqlite3_bind_int64(link, 1, i);
        sqlite3_step(link);
        sqlite3_reset(link);
        std::string token = "token-" + std::to_string(i);
        sqlite3_bind_text(verify, 1, token.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(verify, 2, i);
        sqlite3_step(verify);
        sqlite3_reset(verify);
        timeIndex[year][month][day].append(Json::Int64(i));

        fs::path file = root / "Repos" / "local" / folder / name;
        if (file.parent_path() != lastFolder) {
            lastFolder = file.parent_path();
            fs::create_directories(lastFolder);
        }
        std::ofstream(file) << "jpeg";
    }
    sqlite3_finalize(image);
    sqlite3_finalize(link);
    sqlite3_finalize(verify);
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::string text = Json::writeString(builder, timeIndex) + "\n";
    sqlite3_stmt* config = nullptr;
    sqlite3_prepare_v2(db, "REPLACE INTO config(key, value) VALUES('timeCache', ?);", -1, &config,
                       nullptr);
    sqlite3_bind_text(config, 1, text.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(config);
    sqlite3_finalize(config);
    Exec(db, "REPLACE INTO config(key, value) VALUES('auth_passwd', '123456');");
    Exec(db, "COMMIT;");
    sqlite3_close(db);
}

class Vellumo {
public:
    Vellumo(const fs::path& program, const Sandbox& sandbox) : m_sandbox(sandbox) {
        std::vector<std::string> env = {
            "HOME=" + (sandbox.base / "home").string(),
            "XDG_CONFIG_HOME=" + (sandbox.base / "config").string(),
            "XDG_DATA_HOME=" + (sandbox.base / "data").string(),
            "XDG_RUNTIME_DIR=" + (sandbox.base / "run").string(),
            "TMPDIR=" + (sandbox.base / "tmp").string(),
            "VELLUMO_PORT=" + std::to_string(sandbox.port),
            "TZ=UTC",
        };
        std::vector<char*> envp;
        for (std::string& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::string path = program.string();
        std::string headless = "--headless";
        char* argv[] = {path.data(), headless.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, (sandbox.base / "stderr.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0600);
        m_started = Clock::now();
        if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Vellumo() { Stop(); }

    // Milliseconds from the spawn to an accepted connection; negative on failure.
    double WaitListening(int timeoutMs) {
        auto deadline = m_started + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline && m_pid > 0) {
            if (Listening(m_sandbox.port)) {
                return std::chrono::duration<double, std::milli>(Clock::now() - m_started).count();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return -1;
    }

    long ResidentKiB() const {
        std::ifstream status("/proc/" + std::to_string(m_pid) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::atol(line.c_str() + 6);
            }
        }
        return -1;
    }

    void Stop() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            int status = 0;
            waitpid(m_pid, &status, 0);
            m_pid = -1;
        }
    }

private:
    const Sandbox& m_sandbox;
    pid_t m_pid = -1;
    Clock::time_point m_started;
};

bool ImageRowExists(const fs::path& root, int64_t pid) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((root / "Vellumo.cfg").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return true;
    }
    sqlite3_busy_timeout(db, 1000);
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM images WHERE pid = ?;", -1, &query, nullptr);
    sqlite3_bind_int64(query, 1, pid);
    bool exists = sqlite3_step(query) != SQLITE_ROW || sqlite3_column_int64(query, 0) != 0;
    sqlite3_finalize(query);
    sqlite3_close(db);
    return exists;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void Report(const char* what, double value, const char* unit, double budget) {
    std::printf("%-46s %9.1f %-3s budget %7.0f %-3s ratio %.3f %s\n", what, value, unit, budget,
                unit, value / budget, value >= 0 && value <= budget ? "ok" : "OVER");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s VELLUMO [IMAGES]\n", argv[0]);
        return 2;
    }
    fs::path program = fs::absolute(argv[1]);
    int images = argc > 2 ? std::atoi(argv[2]) : 100000;
    char pattern[] = "/tmp/vellumo-bench-startup-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return 1;
    }
    fs::path work = pattern;
    int status = 0;

    // Empty library: every start is a first run in a fresh sandbox.
    std::vector<double> empty;
    for (int run = 0; run < 5; ++run) {
        Sandbox sandbox(work / ("empty" + std::to_string(run)));
        fs::remove(sandbox.base / "config" / "Vellumo" / "Vellumo.cfg");
        Vellumo vellumo(program, sandbox);
        empty.push_back(vellumo.WaitListening(10000));
    }
    Report("start to listening, empty library", Median(empty), "ms", 300);

    Sandbox big(work / "big");
    auto made = Clock::now();
    MakeLibrary(big.root, images);
    std::printf("(library of %d images made in %.1f s)\n", images,
                std::chrono::duration<double>(Clock::now() - made).count());
    std::vector<double> full;
    long rssKiB = -1;
    std::vector<double> removal;
    for (int run = 0; run < 3; ++run) {
        Vellumo vellumo(program, big);
        full.push_back(vellumo.WaitListening(30000));
        if (run < 2) {
            continue;
        }
        // Idle: the start-up scan has finished and nothing arrives.
        std::this_thread::sleep_for(std::chrono::seconds(5));
        rssKiB = vellumo.ResidentKiB();
        for (int64_t pid : {int64_t(7), int64_t(images / 2), int64_t(images - 3)}) {
            std::time_t t = static_cast<std::time_t>(1262304000 + pid * 1800);
            std::tm tm{};
            gmtime_r(&t, &tm);
            char folder[32], name[32];
            std::snprintf(folder, sizeof(folder), "%04d-%02d-%02d", tm.tm_year + 1900,
                          tm.tm_mon + 1, tm.tm_mday);
            std::snprintf(name, sizeof(name), "IMG_%06d.JPG", static_cast<int>(pid));
            auto deleted = Clock::now();
            fs::remove(big.root / "Repos" / "local" / folder / name);
            while (ImageRowExists(big.root, pid) &&
                   Clock::now() - deleted < std::chrono::seconds(10)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            removal.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - deleted).count());
        }
    }
    char label[96];
    std::snprintf(label, sizeof(label), "start to listening, %d images", images);
    Report(label, Median(full), "ms", 1500);
    std::snprintf(label, sizeof(label), "resident memory when idle, %d images", images);
    Report(label, rssKiB / 1024.0, "MiB", 200);
    Report("deleted repository file leaves the library", Median(removal), "ms", 1000);

    for (double v : {Median(empty), Median(full), Median(removal)}) {
        status |= v < 0;
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    return status;
}
