#include "library/CHDirectoryWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

namespace {

constexpr uint32_t kTreeMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                               IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                               IN_EXCL_UNLINK;

bool IsSameOrBelow(const fs::path& path, const fs::path& dir) {
    auto [d, p] = std::mismatch(dir.begin(), dir.end(), path.begin(), path.end());
    return d == dir.end();
}

} // namespace

CHDirectoryWatcher::~CHDirectoryWatcher() {
    Stop();
}

bool CHDirectoryWatcher::Start(const fs::path& folder) {
    std::lock_guard<std::mutex> control(m_controlLock);
    StopLocked();
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return false;
    }
    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_inotify < 0 || m_wake < 0) {
        StopLocked();
        return false;
    }
    // The configured folder itself may be a link (to another drive); everything below it is
    // watched without following links.
    m_rootWatch = inotify_add_watch(m_inotify, folder.c_str(), kTreeMask);
    if (m_rootWatch < 0) {
        StopLocked();
        return false;
    }
    m_root = folder;
    {
        std::lock_guard<std::mutex> lock(m_watchLock);
        m_watches[m_rootWatch] = folder;
    }
    AddTree(folder);
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.clear();
        m_overflow = false;
        m_stopped = false;
    }
    m_stopping = false;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CHDirectoryWatcher::Stop() {
    std::lock_guard<std::mutex> control(m_controlLock);
    StopLocked();
}

void CHDirectoryWatcher::StopLocked() {
    m_stopping = true;
    if (m_wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t written = write(m_wake, &one, sizeof(one));
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_inotify >= 0) {
        close(m_inotify);
        m_inotify = -1;
    }
    if (m_wake >= 0) {
        close(m_wake);
        m_wake = -1;
    }
    m_rootWatch = -1;
    {
        std::lock_guard<std::mutex> lock(m_watchLock);
        m_watches.clear();
    }
    m_pendingMoves.clear();
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        m_queue.clear();
        m_overflow = false;
        m_stopped = true;
    }
    m_queueCv.notify_all();
}

size_t CHDirectoryWatcher::WatchCount() {
    std::lock_guard<std::mutex> lock(m_watchLock);
    return m_watches.size();
}

void CHDirectoryWatcher::AddTree(const fs::path& dir) {
    std::vector<fs::path> pending{dir};
    while (!pending.empty()) {
        fs::path current = std::move(pending.back());
        pending.pop_back();
        if (current != m_root) {
            int wd = inotify_add_watch(m_inotify, current.c_str(), kTreeMask | IN_DONT_FOLLOW);
            if (wd < 0) {
                continue; // gone already, or not a directory any more
            }
            std::lock_guard<std::mutex> lock(m_watchLock);
            m_watches[wd] = current;
        }
        std::error_code ec;
        for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code statError;
            if (fs::is_directory(it->symlink_status(statError)) && !statError) {
                pending.push_back(it->path());
            }
        }
    }
}

void CHDirectoryWatcher::ForgetTree(const fs::path& dir, bool removeWatches) {
    std::lock_guard<std::mutex> lock(m_watchLock);
    for (auto it = m_watches.begin(); it != m_watches.end();) {
        if (it->first != m_rootWatch && IsSameOrBelow(it->second, dir)) {
            if (removeWatches) {
                inotify_rm_watch(m_inotify, it->first);
            }
            it = m_watches.erase(it);
        } else {
            ++it;
        }
    }
}

void CHDirectoryWatcher::RenameTree(const fs::path& from, const fs::path& to) {
    std::lock_guard<std::mutex> lock(m_watchLock);
    for (auto& [wd, path] : m_watches) {
        if (wd != m_rootWatch && IsSameOrBelow(path, from)) {
            path = path == from ? to : to / path.lexically_relative(from);
        }
    }
}

void CHDirectoryWatcher::Run() {
    alignas(inotify_event) char buffer[64 * 1024];
    pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
    while (!m_stopping) {
        // A move out of the tree shows only its "moved from" half; it is reported as a
        // removal once the kernel has nothing more to deliver right now.
        int timeout = m_pendingMoves.empty() ? -1 : 20;
        int ready = poll(fds, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (ready == 0) {
            FlushUnpairedMoves();
            continue;
        }
        if (fds[1].revents != 0 || m_stopping) {
            break;
        }
        if ((fds[0].revents & POLLIN) == 0) {
            if (fds[0].revents != 0) {
                break; // the inotify descriptor failed
            }
            continue;
        }
        ssize_t length = read(m_inotify, buffer, sizeof(buffer));
        if (length <= 0) {
            continue;
        }
        HandleBuffer(buffer, static_cast<size_t>(length));
        pollfd more{m_inotify, POLLIN, 0};
        if (poll(&more, 1, 0) == 0) {
            FlushUnpairedMoves();
        }
    }
}

void CHDirectoryWatcher::HandleBuffer(const char* data, size_t length) {
    size_t offset = 0;
    while (offset + sizeof(inotify_event) <= length) {
        const auto* event = reinterpret_cast<const inotify_event*>(data + offset);
        offset += sizeof(inotify_event) + event->len;
        if (offset > length) {
            break;
        }
        if ((event->mask & IN_Q_OVERFLOW) != 0) {
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_overflow = true;
            m_queueCv.notify_all();
            continue;
        }
        fs::path dir;
        {
            std::lock_guard<std::mutex> lock(m_watchLock);
            auto it = m_watches.find(event->wd);
            if (it == m_watches.end()) {
                continue;
            }
            dir = it->second;
            if ((event->mask & IN_IGNORED) != 0) {
                m_watches.erase(it);
            }
        }
        bool isRoot = event->wd == m_rootWatch;
        if ((event->mask & IN_IGNORED) != 0) {
            // The directory was deleted or its file system unmounted.
            if (isRoot) {
                m_rootWatch = -1;
                Push(DIR_ACTION_ROOT_LOST, dir, true);
            }
            continue;
        }
        if ((event->mask & IN_MOVE_SELF) != 0 && isRoot) {
            // The watches follow the moved folder; its paths would all be wrong now.
            ForgetTree(m_root, true);
            inotify_rm_watch(m_inotify, m_rootWatch);
            {
                std::lock_guard<std::mutex> lock(m_watchLock);
                m_watches.erase(m_rootWatch);
            }
            m_rootWatch = -1;
            m_pendingMoves.clear();
            Push(DIR_ACTION_ROOT_LOST, dir, true);
            continue;
        }
        if (event->len == 0 || event->name[0] == '\0') {
            continue;
        }
        fs::path full = dir / event->name;
        bool isDirectory = (event->mask & IN_ISDIR) != 0;
        if ((event->mask & IN_CREATE) != 0) {
            Push(DIR_ACTION_ADDED, full, isDirectory);
            if (isDirectory) {
                AddTree(full);
            }
        } else if ((event->mask & IN_DELETE) != 0) {
            Push(DIR_ACTION_REMOVED, full, isDirectory);
            if (isDirectory) {
                ForgetTree(full, false);
            }
        } else if ((event->mask & IN_CLOSE_WRITE) != 0) {
            Push(DIR_ACTION_MODIFIED, full, false);
        } else if ((event->mask & IN_MOVED_FROM) != 0) {
            m_pendingMoves[event->cookie] = PendingMove{full, isDirectory};
        } else if ((event->mask & IN_MOVED_TO) != 0) {
            auto it = m_pendingMoves.find(event->cookie);
            if (it != m_pendingMoves.end()) {
                Push(DIR_ACTION_RENAMED_OLD, it->second.path, isDirectory);
                Push(DIR_ACTION_RENAMED_NEW, full, isDirectory);
                if (isDirectory) {
                    RenameTree(it->second.path, full);
                }
                m_pendingMoves.erase(it);
            } else {
                Push(DIR_ACTION_ADDED, full, isDirectory);
                if (isDirectory) {
                    AddTree(full);
                }
            }
        }
    }
}

void CHDirectoryWatcher::FlushUnpairedMoves() {
    for (auto& [cookie, move] : m_pendingMoves) {
        Push(DIR_ACTION_REMOVED, move.path, move.isDirectory);
        if (move.isDirectory) {
            // The folder lives on elsewhere and would go on reporting under its old path.
            ForgetTree(move.path, true);
        }
    }
    m_pendingMoves.clear();
}

void CHDirectoryWatcher::Push(int action, const fs::path& path, bool isDirectory) {
    {
        std::lock_guard<std::mutex> lock(m_queueLock);
        if (m_queue.size() >= kMaxQueued) {
            m_overflow = true;
        } else {
            m_queue.push_back(DirChange{action, path, isDirectory});
        }
    }
    m_queueCv.notify_one();
}

bool CHDirectoryWatcher::TakeLocked(DirChange& out) {
    if (m_overflow) {
        m_queue.clear();
        m_overflow = false;
        out = DirChange{DIR_ACTION_OVERFLOW, fs::path(), true};
        return true;
    }
    if (m_queue.empty()) {
        return false;
    }
    out = std::move(m_queue.front());
    m_queue.pop_front();
    return true;
}

bool CHDirectoryWatcher::Pop(DirChange& out) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    return TakeLocked(out);
}

bool CHDirectoryWatcher::Wait(DirChange& out) {
    std::unique_lock<std::mutex> lock(m_queueLock);
    m_queueCv.wait(lock, [this] { return m_stopped || m_overflow || !m_queue.empty(); });
    if (m_stopped) {
        return false;
    }
    return TakeLocked(out);
}
