#pragma once
// The import pipeline: up to four digest workers fingerprint queued files (MD5 streamed over
// the whole file), then one import worker stores them, one at a time and in the order they were
// queued. A file that cannot be read completely is dropped before it reaches the store step.

#include "library/IDBCenter.h"
#include "shell/CWorkerSlot.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class CHImportQueue {
public:
    struct Job {
        fs::path file;
        std::string deviceKey;
        std::string token; // the phone's photo token; empty for local imports
        intptr_t user = 0;
        ImportProgress progress;
        std::string md5;  // filled by the digest worker
        int64_t size = 0; // bytes digested
        // Told the job's outcome exactly once: the pid it was stored (or recognised) under, 0
        // when it was not stored (unreadable, refused, or dropped when the queue stopped).
        ImportDone done;
    };
    // Stores one digested job; returns its pid or 0.
    using StoreFn = std::function<Pid(const Job&)>;
    // Called by the import worker whenever it has emptied its queue after storing something.
    using DrainedFn = std::function<void()>;
    // Makes what was stored since the last call durable; false when it could not.
    using SyncFn = std::function<bool()>;

    static constexpr int kDigestWorkers = 4;
    // Stored jobs whose outcome waits for one sync at most; the sync also comes whenever the
    // worker finds no job ready.
    static constexpr size_t kSyncBatch = 32;

    // A job's done is told its pid only after sync has made it durable, so one sync serves
    // every job stored meanwhile (group commit).
    CHImportQueue(StoreFn store, DrainedFn drained, SyncFn sync = nullptr);
    ~CHImportQueue();
    CHImportQueue(const CHImportQueue&) = delete;
    CHImportQueue& operator=(const CHImportQueue&) = delete;

    // False once stopped.
    bool Push(Job job);
    // Refuses new jobs, drops the queued ones and joins every worker (a job being stored is
    // finished first).
    void Stop();
    // Waits until no job is queued, being digested or stored and the workers have left.
    bool WaitIdle(int timeoutMs);

private:
    void DigestRoutine(int slot);
    void ImportRoutine();
    void JobDone();
    static void Tell(Job& job, Pid pid);

    StoreFn m_store;
    DrainedFn m_drained;
    SyncFn m_sync;
    std::atomic<bool> m_stopping{false};

    std::mutex m_digestLock; // guards m_digestQueue, m_pushSeq
    std::deque<std::pair<uint64_t, Job>> m_digestQueue;
    uint64_t m_pushSeq = 0;

    std::mutex m_importLock; // guards m_ready, m_nextSeq
    // Digested jobs by queue order; an empty entry is a job that was dropped.
    std::map<uint64_t, std::optional<Job>> m_ready;
    uint64_t m_nextSeq = 0;

    std::mutex m_idleLock;
    std::condition_variable m_idle;
    int64_t m_inFlight = 0; // jobs pushed and not yet stored or dropped

    std::array<CWorkerSlot, kDigestWorkers> m_digestSlots;
    CWorkerSlot m_importSlot;
};
