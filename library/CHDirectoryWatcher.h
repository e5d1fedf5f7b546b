#pragma once
// Reads the changes of a whole folder tree with inotify: one watch per directory, new
// sub-directories watched as they appear, symbolic links never followed. Changes are queued
// for a consumer thread as (action, full path).

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace fs = std::filesystem;

enum DirAction : int {
    DIR_ACTION_ADDED = 1,
    DIR_ACTION_REMOVED = 2, // deleted, or moved out of the watched tree
    DIR_ACTION_MODIFIED = 3,
    DIR_ACTION_RENAMED_OLD = 4, // renamed inside the tree: the old name...
    DIR_ACTION_RENAMED_NEW = 5, // ...and the new one, always right after it
    DIR_ACTION_OVERFLOW = 100,  // changes were lost; the consumer must rescan
    DIR_ACTION_ROOT_LOST = 101, // the watched folder itself was deleted, moved or unmounted
};

struct DirChange {
    int action = 0;
    fs::path path;
    bool isDirectory = false;
};

class CHDirectoryWatcher {
public:
    // Changes waiting beyond this are dropped and reported as one DIR_ACTION_OVERFLOW.
    static constexpr size_t kMaxQueued = 1000;

    CHDirectoryWatcher() = default;
    ~CHDirectoryWatcher();
    CHDirectoryWatcher(const CHDirectoryWatcher&) = delete;
    CHDirectoryWatcher& operator=(const CHDirectoryWatcher&) = delete;

    // Watches the tree below folder (stopping any earlier watch first). The watches are in
    // place when Start returns. False when the folder is not a directory that can be watched.
    bool Start(const fs::path& folder);
    // Stops reading, wakes every Wait and joins the reader thread. The queue is emptied.
    void Stop();

    // The oldest queued change, without waiting. After an overflow the whole queue is dropped
    // and a single DIR_ACTION_OVERFLOW is returned.
    bool Pop(DirChange& out);
    // Like Pop, but waits until a change arrives; false once Stop was called.
    bool Wait(DirChange& out);

    size_t WatchCount();

private:
    void StopLocked();
    void Run();
    void AddTree(const fs::path& dir);
    void ForgetTree(const fs::path& dir, bool removeWatches);
    void RenameTree(const fs::path& from, const fs::path& to);
    void HandleBuffer(const char* data, size_t length);
    void FlushUnpairedMoves();
    void Push(int action, const fs::path& path, bool isDirectory);
    bool TakeLocked(DirChange& out);

    struct PendingMove {
        fs::path path;
        bool isDirectory = false;
    };

    std::mutex m_controlLock; // serialises Start and Stop
    fs::path m_root;
    int m_inotify = -1;
    int m_wake = -1; // eventfd that interrupts the reader's poll
    int m_rootWatch = -1;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};

    // Reader-thread state (Start fills it before the thread runs).
    std::mutex m_watchLock;
    std::map<int, fs::path> m_watches;
    std::map<uint32_t, PendingMove> m_pendingMoves; // by inotify cookie

    std::mutex m_queueLock;
    std::condition_variable m_queueCv;
    std::deque<DirChange> m_queue;
    bool m_overflow = false;
    bool m_stopped = true;
};
