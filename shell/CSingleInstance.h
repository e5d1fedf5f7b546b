#pragma once
// One Vellumo per user ("VellumoMutex"): a lock file held with flock under $XDG_RUNTIME_DIR
// (else the user's cache folder; never followed as a link, and only the user's own), plus a local
// socket through which a second start asks the first to show its window.

#include <sys/types.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

namespace fs = std::filesystem;

class CSingleInstance {
public:
    enum class Result {
        Acquired,       // this process is the one instance
        AlreadyRunning, // another process holds the lock
        Failed,         // the lock file could not be created; run without the guarantee
    };

    // folder: where the lock file and socket live; empty for the runtime folder.
    explicit CSingleInstance(const fs::path& folder = {});
    ~CSingleInstance(); // stops listening, removes the socket, releases the lock
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    Result Acquire();
    // The process id written into the lock file by the running instance (0 when unknown).
    pid_t RunningPid() const;

    // Serves "show" requests from later starts on a thread of its own until destruction.
    bool Listen(std::function<void()> onShowRequest);
    // Asks the running instance to show its window. True when it answered.
    bool AskToShow() const;

    const fs::path& LockPath() const { return m_lockPath; }
    const fs::path& SocketPath() const { return m_socketPath; }

private:
    void Serve();

    fs::path m_lockPath;
    fs::path m_socketPath;
    int m_lockFd = -1;
    int m_listenFd = -1;
    int m_wakeFd = -1;
    bool m_owner = false;
    std::function<void()> m_onShow;
    std::thread m_thread;
};
