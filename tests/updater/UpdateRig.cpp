#include "tests/updater/UpdateRig.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <thread>

#include "tests/support/WaitFor.h"

namespace {

constexpr const char* kReady = "Stop with Ctrl+C or SIGTERM.";

int WaitChild(pid_t pid, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& out, const fs::path& err) {
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) {
        argp.push_back(a.data());
    }
    argp.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    std::vector<char*> envp;
    for (std::string& e : envCopy) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int started = ::posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return started == 0 ? pid : -1;
}

} // namespace

fs::path FernliftBinaryPath() {
    return fs::path(VELLUMO_BINARY_DIR) / "updater" / "fernlift";
}
fs::path PackageScriptPath() {
    return fs::path(VELLUMO_SOURCE_DIR) / "tools" / "updater" / "make-update-package.sh";
}

pid_t FernliftRun::StartedPid() const {
    size_t at = output.find("started ");
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + 8);
}

UpdateRig::UpdateRig() {
    m_install = m_dir / "install";
    m_sandbox = m_dir / "sandbox";
    fs::create_directories(m_install / "Pages");
    fs::create_directories(m_dir / "www");
    fs::create_directories(m_dir / "scratch");
    fs::copy_file(VellumoBinaryPath(), Program());
    fs::permissions(Program(), fs::perms(0755));
    WriteTestFile(m_install / "Pages/index.html", "<html>old</html>");
    WriteTestFile(m_install / "old.dll", "old library");
    if (!StartServer()) {
        return;
    }
    m_vellumo = std::make_unique<VellumoProcess>(Program(), m_sandbox);
    m_vellumo->SetUpdateServer("127.0.0.1:" + std::to_string(m_serverPort));
    m_ready = m_vellumo->Start({"--headless"}) && m_vellumo->WaitForOutput(kReady);
}

UpdateRig::~UpdateRig() {
    m_vellumo.reset();
    if (m_server > 0) {
        ::kill(m_server, SIGTERM);
        WaitChild(m_server, 10000);
    }
}

bool UpdateRig::StartServer() {
    // A port picked a moment ago may be taken by the time nginx binds it: try a few.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (StartServerOnce()) {
            return true;
        }
    }
    return false;
}

bool UpdateRig::StartServerOnce() {
    m_serverPort = FreeTcpPort();
    fs::path conf = m_dir / "nginx.conf";
    fs::create_directories(m_dir / "nginx");
    std::ostringstream text;
    text << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << (m_dir / "nginx/nginx.pid").string() << ";\n"
         << "error_log " << (m_dir / "nginx/error.log").string() << ";\n"
         << "events { worker_connections 64; }\n"
         << "http {\n  access_log off;\n"
         << "  client_body_temp_path " << (m_dir / "nginx").string() << ";\n"
         << "  proxy_temp_path " << (m_dir / "nginx").string() << ";\n"
         << "  fastcgi_temp_path " << (m_dir / "nginx").string() << ";\n"
         << "  uwsgi_temp_path " << (m_dir / "nginx").string() << ";\n"
         << "  scgi_temp_path " << (m_dir / "nginx").string() << ";\n"
         << "  server {\n    listen 127.0.0.1:" << m_serverPort << ";\n"
         << "    root " << (m_dir / "www").string() << ";\n"
         << "    location = /check_update { default_type application/json;"
         << " try_files /answer.json =404; }\n  }\n}\n";
    std::ofstream(conf) << text.str();
    m_server = Spawn({"nginx", "-p", (m_dir / "nginx").string(), "-e",
                      (m_dir / "nginx/error.log").string(), "-c", conf.string()},
                     {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"}, m_dir / "nginx/out.txt",
                     m_dir / "nginx/err.txt");
    return m_server > 0 &&
           WaitFor([&] { return HttpRequest("127.0.0.1", m_serverPort, "GET", "/none").received; },
                   std::chrono::seconds(10));
}

std::string UpdateRig::PackageAddress(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(m_serverPort) + "/" + name;
}

bool UpdateRig::MakePackage(const std::string& name,
                            const std::map<std::string, std::string>& files, const fs::path& key) {
    fs::path stage = m_dir / ("stage-" + name);
    fs::remove_all(stage);
    for (const auto& [path, bytes] : files) {
        if (!WriteTestFile(stage / path, bytes)) {
            return false;
        }
        if (path == "vellumo" || path == "upgrade/vellumo") {
            fs::permissions(stage / path, fs::perms(0755));
        }
    }
    std::string command = "'" + PackageScriptPath().string() + "' '" + stage.string() + "' '" +
                          (WebFolder() / name).string() + "' '" + key.string() + "' >/dev/null";
    return std::system(command.c_str()) == 0;
}

void UpdateRig::Answer(const std::string& json) {
    WriteTestFile(WebFolder() / "answer.json", json);
}

void UpdateRig::AnswerPackage(const std::string& name) {
    Answer("{\"update\": 1, \"update_url\": \"" + PackageAddress(name) + "\"}");
}

std::vector<std::string> UpdateRig::Environment() const {
    std::vector<std::string> env = {
        "HOME=" + (m_sandbox / "home").string(),
        "XDG_CONFIG_HOME=" + (m_sandbox / "config").string(),
        "XDG_DATA_HOME=" + (m_sandbox / "data").string(),
        "XDG_RUNTIME_DIR=" + (m_sandbox / "run").string(),
        "TMPDIR=" + (m_sandbox / "tmp").string(),
        "VELLUMO_PORT=" + std::to_string(m_vellumo ? m_vellumo->Port() : 0),
        "VELLUMO_UPDATE_SERVER=127.0.0.1:" + std::to_string(m_serverPort),
        "TZ=UTC",
    };
    for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "LANG"}) {
        if (const char* value = std::getenv(name)) {
            env.push_back(std::string(name) + "=" + value);
        }
    }
    return env;
}

std::vector<std::string> UpdateRig::StandardArguments() {
    return {Program().string(), "1.2", std::to_string(m_vellumo->Pid()), "--console"};
}

pid_t UpdateRig::StartFernlift(const std::vector<std::string>& args, const fs::path& stdoutFile,
                               const std::vector<std::string>& extraEnvironment) {
    std::vector<std::string> argv = {FernliftBinaryPath().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = Environment();
    env.insert(env.end(), extraEnvironment.begin(), extraEnvironment.end());
    return Spawn(argv, env, stdoutFile, stdoutFile.string() + ".err");
}

FernliftRun UpdateRig::RunFernlift(const std::vector<std::string>& args,
                                   const std::vector<std::string>& extraEnvironment,
                                   int timeoutMs) {
    static int run = 0;
    fs::path out = m_dir / ("fernlift-" + std::to_string(++run) + ".txt");
    FernliftRun result;
    pid_t pid = StartFernlift(args, out, extraEnvironment);
    if (pid > 0) {
        result.status = WaitChild(pid, timeoutMs);
    }
    result.output = ReadTestFile(out);
    result.errors = ReadTestFile(out.string() + ".err");
    return result;
}

size_t UpdateRig::LeftoverTempFolders() const {
    size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_sandbox / "tmp", ec)) {
        count += entry.path().filename().string().rfind("fernlift", 0) == 0 ? 1 : 0;
    }
    return count;
}

bool UpdateRig::EndProcess(pid_t pid) {
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return false;
    }
    ::kill(pid, SIGTERM);
    pollfd p{pidfd, POLLIN, 0};
    bool gone = ::poll(&p, 1, 20000) > 0;
    ::close(pidfd);
    return gone;
}
