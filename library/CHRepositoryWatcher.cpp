#include "library/CHRepositoryWatcher.h"

#include "library/CHDBCenter.h"
#include "library/IDBCenter.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <utility>

namespace {

// Has at least one entry. An empty repository with images in the library is far more likely
// an unmounted drive (or a mount point left behind) than a user who deleted every photo.
bool HasEntries(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    return !ec && it != fs::directory_iterator();
}

} // namespace

RepositorySink MakeRepositorySink(IDBCenter& db) {
    RepositorySink sink;
    sink.findMissing = [&db](std::vector<fs::path>& missing) { db.FindMissingFiles(missing); };
    sink.removeByPath = [&db](const fs::path& path) { db.RemoveImageByPath(path); };
    return sink;
}

CHRepositoryWatcher::CHRepositoryWatcher(RepositorySink sink) : m_sink(std::move(sink)) {}

CHRepositoryWatcher::~CHRepositoryWatcher() {
    Stop();
}

bool CHRepositoryWatcher::IsFolderAvailable(const fs::path& folder) {
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) {
        return false;
    }
    fs::directory_iterator it(folder, ec);
    return !ec;
}

bool CHRepositoryWatcher::IsStoragePresent(const fs::path& folder) {
    struct stat info {};
    return !folder.empty() &&
           lstat((folder.parent_path() / CHDBCenter::kLibraryFileName).c_str(), &info) == 0 &&
           S_ISREG(info.st_mode);
}

bool CHRepositoryWatcher::MayRemove(bool afterLiveRemoval) {
    // The library file beside the repository is reachable: the storage is mounted, so a
    // missing folder, or an empty one, really lost its photos.
    if (IsStoragePresent(m_folder)) {
        return true;
    }
    return IsFolderAvailable(m_folder) && (afterLiveRemoval || HasEntries(m_folder));
}

bool CHRepositoryWatcher::Start(const fs::path& reposFolder) {
    Stop();
    m_folder = reposFolder;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = false;
        m_running = true;
        m_scanRequested = true; // the initial scan, once watching has begun
        m_events.clear();
        m_queued.clear();
    }
    // Watching starts before the scan so that nothing deleted in between is missed.
    bool watching = m_directory.Start(reposFolder);
    m_processor = std::thread([this] { ProcessLoop(); });
    m_monitor = std::thread([this] { MonitorLoop(); });
    return watching;
}

void CHRepositoryWatcher::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stopping = true;
        m_events.clear();
        m_queued.clear();
        m_scanRequested = false;
        m_scanAfterRemoval = false;
    }
    m_wake.notify_all();
    m_idle.notify_all();
    // The flag is set first: a monitor that restarts the folder watch after this Stop sees it
    // and stops the watch again itself.
    m_directory.Stop();
    if (m_monitor.joinable()) {
        m_monitor.join();
    }
    if (m_processor.joinable()) {
        m_processor.join();
    }
    m_directory.Stop();
    std::lock_guard<std::mutex> lock(m_lock);
    m_running = false;
    m_busy = false;
}

bool CHRepositoryWatcher::IsRunning() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_running && !m_stopping;
}

bool CHRepositoryWatcher::Stopping() {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_stopping;
}

void CHRepositoryWatcher::RequestScan(bool afterLiveRemoval) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping || !m_running) {
            return;
        }
        m_scanRequested = true;
        m_scanAfterRemoval = m_scanAfterRemoval || afterLiveRemoval;
    }
    m_wake.notify_all();
}

void CHRepositoryWatcher::PushEvent(const fs::path& path) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_stopping || !m_queued.insert(path).second) {
            return;
        }
        m_events.push_back(path);
    }
    m_wake.notify_all();
}

bool CHRepositoryWatcher::WaitIdle(int milliseconds) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] {
        return m_stopping || (m_events.empty() && !m_scanRequested && !m_busy);
    });
}

void CHRepositoryWatcher::MonitorLoop() {
    bool scannedWhileGone = false;
    for (;;) {
        DirChange change;
        if (m_directory.Wait(change)) {
            switch (change.action) {
            case DIR_ACTION_REMOVED:
                // A folder that went away takes its images with it; the scan finds them.
                if (change.isDirectory) {
                    RequestScan(true);
                } else {
                    PushEvent(change.path);
                }
                break;
            case DIR_ACTION_OVERFLOW:
                RequestScan();
                break;
            case DIR_ACTION_ROOT_LOST:
                m_directory.Stop();
                break;
            default:
                break; // additions, renames and writes do not change the library
            }
            continue;
        }
        // Not watching: the owner is stopping, or the folder is gone (deleted, moved away,
        // unmounted). Look for it again every second and rescan once it is back. Gone while
        // the storage is there, its photos are gone too: one scan says so.
        if (!scannedWhileGone && !IsFolderAvailable(m_folder) && IsStoragePresent(m_folder)) {
            scannedWhileGone = true;
            RequestScan(true);
        }
        {
            std::unique_lock<std::mutex> lock(m_lock);
            if (m_wake.wait_for(lock, std::chrono::seconds(1), [this] { return m_stopping; })) {
                return;
            }
        }
        if (IsFolderAvailable(m_folder) && m_directory.Start(m_folder)) {
            scannedWhileGone = false;
            if (Stopping()) {
                m_directory.Stop();
                return;
            }
            RequestScan();
        }
    }
}

void CHRepositoryWatcher::ProcessLoop() {
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stopping) {
        if (m_scanRequested) {
            bool afterRemoval = m_scanAfterRemoval;
            m_scanRequested = false;
            m_scanAfterRemoval = false;
            m_busy = true;
            lock.unlock();
            RunScan(afterRemoval);
            lock.lock();
            m_busy = false;
            continue;
        }
        if (!m_events.empty()) {
            fs::path path = std::move(m_events.front());
            m_events.pop_front();
            m_queued.erase(path);
            m_busy = true;
            lock.unlock();
            Apply(path);
            lock.lock();
            m_busy = false;
            continue;
        }
        m_idle.notify_all();
        m_wake.wait(lock);
    }
    m_idle.notify_all();
}

void CHRepositoryWatcher::RunScan(bool afterLiveRemoval) {
    if ((!IsFolderAvailable(m_folder) && !IsStoragePresent(m_folder)) || !m_sink.findMissing) {
        return;
    }
    std::vector<fs::path> missing;
    m_sink.findMissing(missing);
    ++m_scans;
    if (missing.empty()) {
        return;
    }
    // Checked after the scan: the drive may have gone while it ran.
    if (!MayRemove(afterLiveRemoval)) {
        return;
    }
    for (const fs::path& path : missing) {
        PushEvent(path);
    }
}

void CHRepositoryWatcher::Apply(const fs::path& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
        return; // the file is there again, or its folder cannot be read right now
    }
    if ((!IsFolderAvailable(m_folder) && !IsStoragePresent(m_folder)) || !m_sink.removeByPath) {
        return;
    }
    m_sink.removeByPath(path);
    ++m_removed;
}
