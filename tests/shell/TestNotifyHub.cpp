#include "shell/AccessPoints.h"
#include "shell/CNotifyHub.h"
#include "shell/HistoryRecord.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

class Recorder final : public IObserver {
public:
    void OnNotify(int code, const std::shared_ptr<const void>& data) override {
        std::lock_guard<std::mutex> lock(m_lock);
        codes.push_back(code);
        payloads.push_back(data);
        ++count;
    }
    std::mutex m_lock;
    std::vector<int> codes;
    std::vector<std::shared_ptr<const void>> payloads;
    std::atomic<int> count{0};
};

} // namespace

TEST(NotifyHub, SubscribeTwiceDeliversOnce) {
    CNotifyHub hub;
    Recorder r;
    hub.Subscribe(&r, NOTIFY_DEVICES_CHANGED);
    hub.Subscribe(&r, NOTIFY_DEVICES_CHANGED);
    hub.Notify(NOTIFY_DEVICES_CHANGED);
    EXPECT_EQ(r.count.load(), 1);
}

TEST(NotifyHub, UnregisteredCodeDoesNothing) {
    CNotifyHub hub;
    Recorder r;
    hub.Subscribe(&r, NOTIFY_DEVICE_STATS);
    hub.Notify(NOTIFY_BACKUP_DONE, std::make_shared<const HistoryRecord>());
    hub.Notify(42);
    EXPECT_EQ(r.count.load(), 0);
    hub.Subscribe(nullptr, 1);
    hub.Notify(NOTIFY_DEVICE_STATS); // the null observer was not registered
    EXPECT_EQ(r.count.load(), 1);
}

TEST(NotifyHub, EveryObserverOfTheCode) {
    CNotifyHub hub;
    Recorder devInfo, pcInfo;
    for (int code : {0, 2, 3, 1}) {
        hub.Subscribe(&devInfo, code);
    }
    hub.Subscribe(&pcInfo, NOTIFY_DEVICE_STATS);
    hub.NotifyDeviceStats("localhost");
    hub.NotifyDeviceStats("");
    ASSERT_EQ(devInfo.count.load(), 2);
    ASSERT_EQ(pcInfo.count.load(), 2);
    auto key = std::static_pointer_cast<const std::string>(pcInfo.payloads[0]);
    ASSERT_TRUE(key);
    EXPECT_EQ(*key, "localhost");
    EXPECT_EQ(pcInfo.payloads[1], nullptr); // "all"
    hub.Unsubscribe(&pcInfo, NOTIFY_DEVICE_STATS);
    hub.NotifyDeviceStats("x");
    EXPECT_EQ(pcInfo.count.load(), 2);
    EXPECT_EQ(devInfo.count.load(), 3);
}

TEST(NotifyHub, RecordsAreSharedAndFreedOnce) {
    CNotifyHub hub;
    Recorder keeper;
    hub.Subscribe(&keeper, NOTIFY_BACKUP_DONE);
    std::weak_ptr<const HistoryRecord> weak;
    {
        auto record = std::make_shared<HistoryRecord>();
        record->deviceKey = "dev";
        record->summaryText = "备份3张";
        weak = record;
        hub.Notify(NOTIFY_BACKUP_DONE, record);
    }
    // The observer kept it: still alive; released when the observer drops it.
    ASSERT_FALSE(weak.expired());
    EXPECT_EQ(std::static_pointer_cast<const HistoryRecord>(keeper.payloads[0])->summaryText,
              "备份3张");
    keeper.payloads.clear();
    EXPECT_TRUE(weak.expired());
}

TEST(NotifyHub, ObserverMaySubscribeFromInsideNotify) {
    CNotifyHub hub;
    struct Reentrant final : IObserver {
        CNotifyHub* hub = nullptr;
        Recorder other;
        int calls = 0;
        void OnNotify(int, const std::shared_ptr<const void>&) override {
            ++calls;
            hub->Subscribe(&other, 7); // would deadlock if Notify held the lock
            hub->Notify(7);
        }
    } r;
    r.hub = &hub;
    hub.Subscribe(&r, 5);
    hub.Notify(5);
    EXPECT_EQ(r.calls, 1);
    EXPECT_EQ(r.other.count.load(), 1);
}

TEST(NotifyHub, ConcurrentNotifyAndSubscribe) {
    CNotifyHub hub;
    constexpr int kObservers = 64;
    std::vector<Recorder> observers(kObservers);
    Recorder first;
    hub.Subscribe(&first, NOTIFY_BACKUP_PROGRESS);
    std::atomic<bool> stop{false};
    std::vector<std::thread> notifiers;
    for (int t = 0; t < 4; ++t) {
        notifiers.emplace_back([&] {
            while (!stop.load()) {
                hub.Notify(NOTIFY_BACKUP_PROGRESS, std::make_shared<const int>(1));
            }
        });
    }
    std::thread subscriber([&] {
        for (int round = 0; round < 20; ++round) {
            for (auto& o : observers) {
                hub.Subscribe(&o, NOTIFY_BACKUP_PROGRESS);
            }
            for (auto& o : observers) {
                hub.Unsubscribe(&o, NOTIFY_BACKUP_PROGRESS);
            }
        }
        for (auto& o : observers) {
            hub.Subscribe(&o, NOTIFY_BACKUP_PROGRESS);
        }
    });
    subscriber.join();
    stop = true;
    for (auto& t : notifiers) {
        t.join();
    }
    EXPECT_GT(first.count.load(), 0);
    int before = observers[0].count.load();
    hub.Notify(NOTIFY_BACKUP_PROGRESS);
    for (auto& o : observers) {
        EXPECT_GE(o.count.load(), 1);
    }
    EXPECT_EQ(observers[0].count.load(), before + 1);
}

TEST(AccessPoints, PublishAndClear) {
    CNotifyHub hub;
    EXPECT_EQ(GetNotifyHub(), nullptr);
    PublishAccessPoints(nullptr, nullptr, nullptr, &hub);
    EXPECT_EQ(GetNotifyHub(), &hub);
    EXPECT_EQ(GetMainWnd(), nullptr);
    ClearAccessPoints();
    EXPECT_EQ(GetNotifyHub(), nullptr);
}
