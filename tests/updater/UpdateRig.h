#pragma once
// An installed Vellumo in a temporary folder, running headless in its sandbox, an nginx on a
// loopback port serving the update answer and packages, and Fernlift run against them.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/TestDirs.h"
#include "tests/support/TestProcess.h"

namespace fs = std::filesystem;

struct FernliftRun {
    int status = -1; // exit status, -1 when it did not end in time
    std::string output;
    std::string errors;
    bool Shows(const std::string& text) const { return output.find(text) != std::string::npos; }
    pid_t StartedPid() const; // from the "started <pid> <path>" line, -1 when none
};

class UpdateRig {
public:
    UpdateRig();
    ~UpdateRig();

    bool Ready() const { return m_ready; }
    const fs::path& Install() const { return m_install; }
    fs::path Program() const { return m_install / "vellumo"; }
    VellumoProcess& Vellumo() { return *m_vellumo; }
    int ServerPort() const { return m_serverPort; }
    std::string PackageAddress(const std::string& name) const;
    fs::path WebFolder() const { return m_dir / "www"; }
    fs::path Scratch() const { return m_dir / "scratch"; }

    // Writes the files below a fresh staging folder and builds www/<name> with the release
    // script, signed with the key.
    bool MakePackage(const std::string& name, const std::map<std::string, std::string>& files,
                     const fs::path& key);
    // The server's answer to the update question.
    void Answer(const std::string& json);
    void AnswerPackage(const std::string& name);

    // Runs fernlift with the sandbox's environment (plus extra NAME=value texts).
    FernliftRun RunFernlift(const std::vector<std::string>& args,
                            const std::vector<std::string>& extraEnvironment = {},
                            int timeoutMs = 120000);
    // Starts it without waiting; its stdout goes to the file.
    pid_t StartFernlift(const std::vector<std::string>& args, const fs::path& stdoutFile,
                        const std::vector<std::string>& extraEnvironment = {});
    std::vector<std::string> Environment() const;
    std::vector<std::string> StandardArguments();

    // Fernlift's private folders left in the sandbox's temporary folder.
    size_t LeftoverTempFolders() const;
    // Ends a Vellumo that Fernlift started (not our child) and waits until it is gone.
    static bool EndProcess(pid_t pid);

private:
    bool StartServer();
    bool StartServerOnce();

    TempDir m_dir{"updater-e2e"};
    fs::path m_install;
    fs::path m_sandbox;
    std::unique_ptr<VellumoProcess> m_vellumo;
    int m_serverPort = 0;
    pid_t m_server = -1;
    bool m_ready = false;
};

fs::path FernliftBinaryPath();
fs::path PackageScriptPath();
