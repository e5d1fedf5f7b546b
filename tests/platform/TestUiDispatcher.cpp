// The worker-to-UI bridge: tasks run on the thread that drains the queue, in posting order, and
// nothing queued survives the shut-down.

#include "platform/UiDispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(UiDispatcher, RunsTasksFromManyThreadsInPostingOrderPerThread) {
    std::atomic<int> wakes{0};
    CHUiDispatcher dispatcher([&] { ++wakes; });
    constexpr int kThreads = 4, kTasks = 500;
    std::vector<std::vector<int>> seen(kThreads);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kTasks; ++i)
                EXPECT_TRUE(dispatcher.Post([&seen, t, i] { seen[t].push_back(i); }));
        });
    size_t ran = 0;
    while (ran < static_cast<size_t>(kThreads * kTasks))
        ran += dispatcher.RunPending();
    for (auto& worker : workers)
        worker.join();
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kTasks));
        for (int i = 0; i < kTasks; ++i)
            ASSERT_EQ(seen[t][i], i);
    }
    // One wake-up per empty-to-non-empty change, not one per task.
    EXPECT_GE(wakes.load(), 1);
    EXPECT_LE(wakes.load(), kThreads * kTasks);
}

TEST(UiDispatcher, ShutdownDropsQueuedTasksAndRefusesNewOnes) {
    CHUiDispatcher dispatcher;
    int ran = 0;
    auto counted = std::make_shared<int>(0);
    dispatcher.Post([&ran, counted] { ++ran; });
    dispatcher.Shutdown();
    EXPECT_EQ(counted.use_count(), 1); // the dropped task's captures are released
    EXPECT_FALSE(dispatcher.Post([&ran] { ++ran; }));
    EXPECT_EQ(dispatcher.RunPending(), 0u);
    EXPECT_EQ(ran, 0);
}

TEST(UiDispatcher, ATaskThatShutsDownStopsTheRestOfItsBatch) {
    CHUiDispatcher dispatcher;
    int ran = 0;
    dispatcher.Post([&] {
        ++ran;
        dispatcher.Shutdown();
    });
    dispatcher.Post([&] { ++ran; });
    dispatcher.RunPending();
    EXPECT_EQ(ran, 1);
}

TEST(UiDispatcher, ARunnerOutlivesTheDispatcher) {
    std::function<void()> runner;
    {
        CHUiDispatcher dispatcher;
        runner = dispatcher.Runner();
        dispatcher.Post([] {});
    }
    runner(); // a late wake-up after the dispatcher is gone runs nothing and does not crash
}

TEST(UiDispatcher, TasksPostedWhileRunningWaitForTheNextTurn) {
    CHUiDispatcher dispatcher;
    std::vector<int> order;
    dispatcher.Post([&] {
        order.push_back(1);
        dispatcher.Post([&] { order.push_back(2); });
    });
    EXPECT_EQ(dispatcher.RunPending(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1}));
    EXPECT_EQ(dispatcher.RunPending(), 1u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}
