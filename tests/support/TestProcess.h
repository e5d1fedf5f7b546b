#pragma once
// Runs the real vellumo program for end-to-end tests, in a sandbox of its own (HOME, XDG
// folders, TMPDIR, runtime folder and a free VELLUMO_PORT), and talks HTTP to it.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#ifdef VELLUMO_BINARY_DIR
inline fs::path VellumoBinaryPath() {
    return fs::path(VELLUMO_BINARY_DIR) / "shell" / "vellumo";
}
#endif

// A TCP port that was free on every interface a moment ago.
int FreeTcpPort();

struct HttpReply {
    bool received = false; // false: no connection, or closed without a response
    int status = 0;
    std::map<std::string, std::string> headers; // names lower-cased
    std::string body;
};

// One request on its own connection from sourceIp (e.g. "127.0.0.2", another machine as far as
// the server can tell) to 127.0.0.1:port. The server closes the connection after answering.
HttpReply HttpRequest(const std::string& sourceIp, int port, const std::string& method,
                      const std::string& target, const std::string& body = {},
                      int timeoutMs = 10000);

class VellumoProcess {
public:
    // The sandbox lives below base (created when missing); port 0 picks a free one.
    VellumoProcess(const fs::path& program, const fs::path& base, int port = 0);
    ~VellumoProcess(); // kills a process that is still running

    VellumoProcess(const VellumoProcess&) = delete;
    VellumoProcess& operator=(const VellumoProcess&) = delete;

    int Port() const { return m_port; }
    // The update server the program asks ("host:port"); "off" unless a test sets one.
    void SetUpdateServer(const std::string& setting) { m_updateServer = setting; }
    // Variables added to the sandbox's environment (e.g. a test's own DISPLAY).
    void SetExtraEnvironment(std::vector<std::string> env) { m_extraEnv = std::move(env); }
    const fs::path& Home() const { return m_home; }
    const fs::path& ConfigHome() const { return m_config; }
    fs::path DefaultRoot() const { return m_home / "Documents" / "Vellumo"; }
    fs::path PointerFile() const { return m_config / "Vellumo" / "Vellumo.cfg"; }

    // Starts the program with the arguments (the sandbox's environment, no display).
    bool Start(const std::vector<std::string>& args = {"--headless"});
    // Runs the program to its end; its exit status, or -1 when it did not end in time.
    int RunToEnd(const std::vector<std::string>& args, int timeoutMs = 30000);

    // Waits until the output of the running (or last) process contains text.
    bool WaitForOutput(const std::string& text, int timeoutMs = 20000);
    std::string Output() const;      // stdout so far
    std::string ErrorOutput() const; // stderr so far
    // The text after "<label>: " on the first stdout line starting with it.
    std::string OutputValue(const std::string& label) const;

    // Sends the signal and waits for the end; the exit status (128 + n when killed by signal
    // n), or -1 when the process did not end in time.
    int Stop(int signal, int timeoutMs = 20000);
    bool IsRunning();
    pid_t Pid() const { return m_pid; }

private:
    std::vector<std::string> Environment() const;
    bool Spawn(const std::vector<std::string>& args);
    int WaitExit(int timeoutMs);

    fs::path m_program;
    fs::path m_base;
    fs::path m_home;
    fs::path m_config;
    int m_port = 0;
    std::string m_updateServer = "off";
    std::vector<std::string> m_extraEnv;
    int m_run = 0;
    fs::path m_stdout;
    fs::path m_stderr;
    pid_t m_pid = -1;
    int m_status = -1;
};
