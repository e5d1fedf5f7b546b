#include "tests/support/TestNginx.h"

#include "tests/support/TestConnection.h"
#include "tests/support/TestDirs.h"
#include "tests/support/TestProcess.h"
#include "tests/support/WaitFor.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

extern char** environ;

namespace {

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

bool TestNginx::Available() {
    return ::access(kProgram, X_OK) == 0;
}

TestNginx::TestNginx(const fs::path& work) : m_work(work) {}

TestNginx::~TestNginx() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
}

std::string TestNginx::ErrorLog() const {
    return ReadTestFile(m_work / "error.log");
}

std::string TestNginx::UpdateServerConfig(const fs::path& sourceDir, int port,
                                          const fs::path& root) {
    std::string config = ReadTestFile(sourceDir / "tools/update-server/vellumo-updates.conf");
    ReplaceOnce(config, "listen 80;", "listen 127.0.0.1:" + std::to_string(port) + ";");
    ReplaceOnce(config, "root /srv/vellumo-updates;", "root " + root.string() + ";");
    return config;
}

bool TestNginx::Start(const fs::path& root, const std::string& extraHttp) {
    m_port = FreeTcpPort();
    fs::create_directories(m_work / "temp");
    const std::string work = m_work.string();
    std::string config = "daemon off;\nmaster_process off;\nworker_processes 1;\n";
    if (::geteuid() == 0) {
        config += "user root root;\n";
    }
    config += "error_log " + work + "/error.log;\npid " + work + "/nginx.pid;\n";
    config += "events { worker_connections 256; }\nhttp {\n    access_log off;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
        config += "    " + std::string(kind) + "_temp_path " + work + "/temp/" + kind + ";\n";
    }
    config += "    server {\n        listen 127.0.0.1:" + std::to_string(m_port) + ";\n";
    config += "        root " + root.string() + ";\n";
    // An (empty) addition after the body makes nginx send it chunked.
    config += "        location /chunked/ { addition_types *; add_after_body /empty.txt; }\n";
    config += "        location = /empty.txt { return 200 ''; }\n    }\n";
    config += extraHttp + "\n}\n";
    if (!WriteTestFile(m_work / "nginx.conf", config)) {
        return false;
    }
    std::string program = kProgram;
    std::string prefix = work + "/";
    std::string file = (m_work / "nginx.conf").string();
    std::string errors = (m_work / "error.log").string();
    std::vector<char*> argv = {
        program.data(), const_cast<char*>("-p"), prefix.data(), const_cast<char*>("-c"),
        file.data(),    const_cast<char*>("-e"), errors.data(), nullptr};
    if (::posix_spawn(&m_pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        m_pid = -1;
        return false;
    }
    return WaitFor(
        [&] {
            TestConnection probe(m_port);
            return probe.Connected();
        },
        std::chrono::seconds(20));
}
