#include "library/CHImportQueue.h"

#include "media/CHMd5.h"

#include <chrono>

CHImportQueue::CHImportQueue(StoreFn store, DrainedFn drained, SyncFn sync)
    : m_store(std::move(store)), m_drained(std::move(drained)), m_sync(std::move(sync)) {}

CHImportQueue::~CHImportQueue() {
    Stop();
}

void CHImportQueue::Tell(Job& job, Pid pid) {
    if (job.done) {
        ImportDone done = std::move(job.done);
        job.done = nullptr;
        done(pid);
    }
}

bool CHImportQueue::Push(Job job) {
    if (m_stopping) {
        Tell(job, 0);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(m_idleLock);
        ++m_inFlight;
    }
    {
        std::lock_guard<std::mutex> guard(m_digestLock);
        m_digestQueue.emplace_back(m_pushSeq++, std::move(job));
    }
    // The first free slot starts a worker; busy slots are told to look at the queue again.
    for (int i = 0; i < kDigestWorkers; ++i) {
        if (m_digestSlots[i].Start([this, i] { DigestRoutine(i); })) {
            break;
        }
    }
    return true;
}

void CHImportQueue::Stop() {
    m_stopping = true;
    for (auto& slot : m_digestSlots) {
        slot.Join();
    }
    m_importSlot.Join();
    std::deque<std::pair<uint64_t, Job>> queued;
    std::map<uint64_t, std::optional<Job>> ready;
    {
        std::lock_guard<std::mutex> guard(m_digestLock);
        queued.swap(m_digestQueue);
    }
    {
        std::lock_guard<std::mutex> guard(m_importLock);
        ready.swap(m_ready);
    }
    // Whoever waits for these jobs learns that they were not stored.
    for (auto& [seq, job] : queued) {
        Tell(job, 0);
    }
    for (auto& [seq, job] : ready) {
        if (job) {
            Tell(*job, 0);
        }
    }
    std::lock_guard<std::mutex> guard(m_idleLock);
    m_inFlight = 0;
    m_idle.notify_all();
}

bool CHImportQueue::WaitIdle(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(m_idleLock);
    for (;;) {
        bool busy = m_inFlight > 0 || m_importSlot.IsRunning();
        for (const auto& slot : m_digestSlots) {
            busy = busy || slot.IsRunning();
        }
        if (!busy) {
            return true;
        }
        if (m_idle.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() +
                                                           std::chrono::milliseconds(10))) ==
                std::cv_status::timeout &&
            std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
}

void CHImportQueue::JobDone() {
    std::lock_guard<std::mutex> guard(m_idleLock);
    if (m_inFlight > 0) {
        --m_inFlight;
    }
    m_idle.notify_all();
}

void CHImportQueue::DigestRoutine(int slot) {
    for (;;) {
        if (m_stopping) {
            return;
        }
        std::optional<std::pair<uint64_t, Job>> item;
        {
            std::lock_guard<std::mutex> guard(m_digestLock);
            if (!m_digestQueue.empty()) {
                item = std::move(m_digestQueue.front());
                m_digestQueue.pop_front();
            }
        }
        if (!item) {
            if (m_digestSlots[slot].TryFinish()) {
                return;
            }
            continue;
        }
        Job& job = item->second;
        // One pass gives both the digest and the size of exactly the bytes that were read; a
        // file that cannot be read to its end is dropped rather than fingerprinted in part.
        bool readable = Md5FileText(job.file.string(), job.md5, &job.size);
        if (!readable) {
            Tell(job, 0);
        }
        {
            std::lock_guard<std::mutex> guard(m_importLock);
            if (readable) {
                m_ready.emplace(item->first, std::move(job));
            } else {
                m_ready.emplace(item->first, std::nullopt);
            }
        }
        if (!readable) {
            JobDone();
        }
        m_importSlot.Start([this] { ImportRoutine(); });
    }
}

void CHImportQueue::ImportRoutine() {
    int index = 0;
    bool storedSinceDrain = false;
    // Outcomes of stored jobs not yet made durable.
    std::vector<std::pair<ImportDone, Pid>> unsynced;
    auto syncAndTell = [&] {
        if (unsynced.empty()) {
            return;
        }
        const bool durable = !m_sync || m_sync();
        for (auto& [done, pid] : unsynced) {
            done(durable ? pid : 0);
        }
        unsynced.clear();
    };
    for (;;) {
        if (m_stopping) {
            syncAndTell();
            return;
        }
        std::optional<Job> job;
        {
            std::lock_guard<std::mutex> guard(m_importLock);
            while (!m_ready.empty() && m_ready.begin()->first == m_nextSeq) {
                auto first = m_ready.begin();
                ++m_nextSeq;
                if (first->second) {
                    job = std::move(first->second);
                    m_ready.erase(first);
                    break;
                }
                m_ready.erase(first); // dropped by its digest worker
            }
        }
        if (!job) {
            syncAndTell();
            if (storedSinceDrain) {
                storedSinceDrain = false;
                m_drained();
            }
            if (m_importSlot.TryFinish()) {
                return;
            }
            continue;
        }
        ++index;
        int64_t pending;
        {
            std::lock_guard<std::mutex> guard(m_idleLock);
            pending = m_inFlight;
        }
        int total = index + static_cast<int>(pending > 0 ? pending - 1 : 0);
        if (job->progress) {
            job->progress(0, index, total, job->file, job->deviceKey, job->user);
        }
        Pid pid = m_store(*job);
        storedSinceDrain = true;
        if (job->progress) {
            job->progress(1, index, total, job->file, "", job->user);
        }
        if (job->done) {
            unsynced.emplace_back(std::move(job->done), pid);
            job->done = nullptr;
        }
        if (unsynced.size() >= kSyncBatch) {
            syncAndTell();
        }
        JobDone();
    }
}
