#pragma once
// Runs nginx (nginx-light) on 127.0.0.1 for client tests and benchmarks, in the foreground as
// a child of the test, with every file it writes inside a folder of its own.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

class TestNginx {
public:
    static constexpr const char* kProgram = "/usr/sbin/nginx";
    static bool Available();

    // work holds nginx's configuration, log, pid and temporary files.
    explicit TestNginx(const fs::path& work);
    ~TestNginx(); // stops nginx

    // Starts nginx with one server on port serving root (the folder "chunked/" of root is sent
    // with chunked transfer coding), plus the given configuration text inside the http block.
    // True once nginx accepts connections.
    bool Start(const fs::path& root, const std::string& extraHttp = {});
    int Port() const { return m_port; }
    std::string ErrorLog() const;

    // The update server configuration shipped for publishers (in the source tree), placed on
    // the port and root.
    static std::string UpdateServerConfig(const fs::path& sourceDir, int port,
                                          const fs::path& root);

private:
    fs::path m_work;
    int m_port = 0;
    pid_t m_pid = -1;
};
