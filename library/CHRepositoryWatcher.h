#pragma once
// Keeps the library in step with the repository folder. At start, and whenever changes may
// have been missed, it looks for images whose files are gone; while running it removes the
// images whose files are deleted or moved out of the folder. Files added, renamed or changed
// in the folder are not taken into the library.

#include "library/CHDirectoryWatcher.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

class IDBCenter;

// What the watcher needs from the library.
struct RepositorySink {
    // Fills missing with the full paths of images whose files do not exist.
    std::function<void(std::vector<fs::path>& missing)> findMissing;
    // Removes the image stored at the full path.
    std::function<void(const fs::path& fullPath)> removeByPath;
};

RepositorySink MakeRepositorySink(IDBCenter& db);

class CHRepositoryWatcher {
public:
    explicit CHRepositoryWatcher(RepositorySink sink);
    ~CHRepositoryWatcher();
    CHRepositoryWatcher(const CHRepositoryWatcher&) = delete;
    CHRepositoryWatcher& operator=(const CHRepositoryWatcher&) = delete;

    // Stops any earlier watch, then watches folder and scans it for missing files. True when
    // the folder is being watched; when it is not available the watcher keeps looking for it
    // and starts (with a scan) once it appears.
    bool Start(const fs::path& reposFolder);
    // Wakes every wait and joins every thread; queued removals are dropped.
    void Stop();
    bool IsRunning();

    // Looks for missing files again (after lost notifications or a removed folder). A scan
    // that a live removal called for may empty the repository completely; any other scan
    // removes nothing when the repository folder has no entries at all, unless the library
    // file beside it shows that the storage is there.
    void RequestScan(bool afterLiveRemoval = false);
    // Waits until no scan or removal is pending or running. False on time-out.
    bool WaitIdle(int milliseconds);
    uint64_t RemovedCount() const { return m_removed; }
    uint64_t ScanCount() const { return m_scans; }

    // The folder exists and can be listed. A scan runs only then: an unmounted drive must
    // not look like a folder whose files were all deleted.
    static bool IsFolderAvailable(const fs::path& folder);
    // The library file beside the repository folder is reachable (the storage root is
    // mounted). Then a repository or device folder that is gone lost its photos: the scan
    // removes them even when the repository is missing or empty.
    static bool IsStoragePresent(const fs::path& reposFolder);

private:
    void MonitorLoop();
    void ProcessLoop();
    void RunScan(bool afterLiveRemoval);
    bool MayRemove(bool afterLiveRemoval);
    void Apply(const fs::path& path);
    void PushEvent(const fs::path& path);
    bool Stopping();

    RepositorySink m_sink;
    CHDirectoryWatcher m_directory;
    fs::path m_folder;

    std::mutex m_lock;
    std::condition_variable m_wake; // new work or stop
    std::condition_variable m_idle; // nothing pending any more
    std::deque<fs::path> m_events;
    std::set<fs::path> m_queued; // the same removal is queued once
    bool m_scanRequested = false;
    bool m_scanAfterRemoval = false;
    bool m_busy = false;
    bool m_stopping = false;
    bool m_running = false;

    std::thread m_monitor;
    std::thread m_processor;
    std::atomic<uint64_t> m_removed{0};
    std::atomic<uint64_t> m_scans{0};
};
