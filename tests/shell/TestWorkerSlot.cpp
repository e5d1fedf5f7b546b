#include "shell/CWorkerSlot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(WorkerSlot, StartWhileRunningDoesNothing) {
    CWorkerSlot slot;
    std::atomic<bool> release{false};
    std::atomic<int> runs{0};
    auto routine = [&] {
        ++runs;
        while (!release.load()) {
            std::this_thread::sleep_for(1ms);
        }
    };
    EXPECT_TRUE(slot.Start(routine));
    EXPECT_TRUE(slot.IsRunning());
    EXPECT_FALSE(slot.Start(routine));
    release = true;
    slot.Join();
    EXPECT_FALSE(slot.IsRunning());
    EXPECT_EQ(runs.load(), 1);
    // Once the routine has returned the next start runs a new thread.
    release = true;
    EXPECT_TRUE(slot.Start(routine));
    slot.Join();
    EXPECT_EQ(runs.load(), 2);
}

TEST(WorkerSlot, ConcurrentStartsRunExactlyOneThread) {
    for (int round = 0; round < 50; ++round) {
        CWorkerSlot slot;
        std::atomic<int> running{0};
        std::atomic<int> maxRunning{0};
        std::atomic<int> started{0};
        std::atomic<bool> go{false};
        std::atomic<bool> release{false};
        auto routine = [&] {
            int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            while (!release.load()) {
                std::this_thread::yield();
            }
            --running;
        };
        std::vector<std::thread> callers;
        for (int t = 0; t < 8; ++t) {
            callers.emplace_back([&] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                if (slot.Start(routine)) {
                    ++started;
                }
            });
        }
        go = true;
        for (auto& c : callers) {
            c.join();
        }
        release = true;
        slot.Join();
        EXPECT_EQ(started.load(), 1);
        EXPECT_EQ(maxRunning.load(), 1);
    }
}

TEST(WorkerSlot, AtMostOneThreadUnderChurn) {
    CWorkerSlot slot;
    std::atomic<int> running{0};
    std::atomic<int> overlap{0};
    std::atomic<int> runs{0};
    auto routine = [&] {
        if (++running > 1) {
            ++overlap;
        }
        ++runs;
        std::this_thread::yield();
        --running;
    };
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                slot.Start(routine);
            }
        });
    }
    for (auto& c : callers) {
        c.join();
    }
    slot.Join();
    EXPECT_EQ(overlap.load(), 0);
    EXPECT_GE(runs.load(), 1);
}

// The queue-draining pattern: producers push then Start; the worker drains and leaves through
// TryFinish. No job may be left behind, however the two race.
TEST(WorkerSlot, QueueDrainRaceLosesNoJob) {
    CWorkerSlot slot;
    std::mutex queueLock;
    std::deque<int> queue;
    std::atomic<int> done{0};
    std::atomic<int> concurrent{0};
    std::atomic<int> overlap{0};

    auto worker = [&] {
        if (++concurrent > 1) {
            ++overlap;
        }
        for (;;) {
            int job = -1;
            {
                std::lock_guard<std::mutex> lock(queueLock);
                if (!queue.empty()) {
                    job = queue.front();
                    queue.pop_front();
                }
            }
            if (job >= 0) {
                ++done;
                continue;
            }
            // Queue found empty (lock released): leave only if no work was announced.
            --concurrent;
            if (slot.TryFinish()) {
                return;
            }
            ++concurrent;
        }
    };

    constexpr int kProducers = 4;
    constexpr int kJobs = 5000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kJobs; ++i) {
                {
                    std::lock_guard<std::mutex> lock(queueLock);
                    queue.push_back(p * kJobs + i);
                }
                slot.StartOrKeep(worker);
                if (i % 64 == 0) {
                    std::this_thread::sleep_for(10us); // let the worker run dry now and then
                }
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    // Every job pushed before the last Start is run without another Start.
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (done.load() < kProducers * kJobs && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    slot.Join();
    EXPECT_EQ(done.load(), kProducers * kJobs);
    EXPECT_EQ(overlap.load(), 0);
    std::lock_guard<std::mutex> lock(queueLock);
    EXPECT_TRUE(queue.empty());
}

TEST(WorkerSlot, DestructorJoins) {
    std::atomic<bool> finished{false};
    {
        CWorkerSlot slot;
        slot.Start([&] {
            std::this_thread::sleep_for(50ms);
            finished = true;
        });
    }
    EXPECT_TRUE(finished.load());
}

TEST(WorkerSlot, RoutineMayRestartItsOwnSlotAfterFinishing) {
    CWorkerSlot slot;
    std::atomic<int> runs{0};
    std::function<void()> routine = [&] {
        if (++runs < 3) {
            EXPECT_TRUE(slot.TryFinish());
            slot.Start(routine); // the old thread is detached, the new one owns the slot
        }
    };
    slot.Start(routine);
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (runs.load() < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    slot.Join();
    EXPECT_EQ(runs.load(), 3);
}

TEST(WorkerSlot, ExceptionsDoNotEscapeTheThread) {
    CWorkerSlot slot;
    slot.Start([] { throw std::runtime_error("boom"); });
    slot.Join();
    EXPECT_FALSE(slot.IsRunning());
    std::atomic<bool> ran{false};
    EXPECT_TRUE(slot.Start([&] { ran = true; }));
    slot.Join();
    EXPECT_TRUE(ran.load());
}

TEST(WorkerSlot, EmptyRoutineIsRefused) {
    CWorkerSlot slot;
    EXPECT_FALSE(slot.Start(nullptr));
    EXPECT_FALSE(slot.IsRunning());
    slot.Join();
}
