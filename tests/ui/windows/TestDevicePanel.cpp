// The panels over the real core and library, without a display: notifications arrive from
// worker threads and change nothing until the UI thread runs its queue; progress, the end of a
// run, stalls, deletion while busy, and scrolling through many phones.

#include "library/CHDBCenter.h"
#include "platform/UiDispatcher.h"
#include "shell/CVellumoCore.h"
#include "tests/support/TestDirs.h"
#include "tests/support/WaitFor.h"
#include "tests/ui/framework/FakePlatform.h"
#include "tests/ui/windows/TestPanelHost.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UIScrollBar.h"
#include "ui/windows/CXContentWnd.h"
#include "ui/windows/CXDevInfo.h"
#include "ui/windows/CXIntroAnimate.h"
#include "ui/windows/CXPCInfo.h"
#include "ui/windows/CXQRCodeView.h"
#include "ui/windows/CXRootChange.h"
#include "ui/windows/UIQRBtn.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

class DevicePanel : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("XDG_DOCUMENTS_DIR", (m_dir / "docs").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
        CoreOptions options;
        options.servicePort = CoreOptions::kNoService;
        options.startWatcher = false;
        options.pointerFile = m_dir / "config" / "Vellumo" / "Vellumo.cfg";
        m_core = std::make_unique<CVellumoCore>(options);
        ASSERT_TRUE(m_core->Start());
        m_core->SetTrayHandlers({}, [this](const std::string& title, const std::string& text) {
            std::lock_guard<std::mutex> lock(m_balloonLock);
            m_balloons.push_back(title + "|" + text);
            return true;
        });
        m_host = std::make_unique<TestPanelHost>(*m_core);
        ASSERT_TRUE(m_host->LoadSkin());
    }

    void TearDown() override {
        m_content.reset();
        m_core->SetTrayHandlers({}, {});
        m_core->Stop();
    }

    void BuildPanels() {
        m_content = std::make_unique<CXContentWnd>(*m_host);
        m_host->relayout = [this] {
            if (m_content) {
                m_content->Relayout();
            }
        };
        m_content->MoveTo({5, 45, 635, 493});
        m_content->ApplySkin(&m_host->skin, "");
        m_host->Drain();
    }

    CXDevInfo& Devices() { return *m_content->DevicePanel(); }

    void Pair(const std::string& key, const std::string& name) {
        m_core->Library()->SetAuth(key, 1, name);
        ASSERT_TRUE(m_core->Library()->IsAuthorized(key));
    }

    // A notification from a thread other than the UI thread, as the HTTP workers send them.
    void NotifyFromWorker(int code, std::shared_ptr<const void> data) {
        std::thread worker([&] { m_core->Hub().Notify(code, data); });
        worker.join();
    }

    void Progress(const std::string& key, float current, int total, int phase = 2) {
        auto progress = std::make_shared<BackupProgress>();
        progress->deviceKey = key;
        progress->phase = phase;
        progress->current = current;
        progress->total = total;
        progress->speed = 10;
        progress->elapsed = 2;
        NotifyFromWorker(NOTIFY_BACKUP_PROGRESS, progress);
    }

    void Done(const std::string& key) {
        auto record = std::make_shared<HistoryRecord>();
        record->deviceKey = key;
        record->timeText = "时间: 2013.05.01 10:20:30";
        record->summaryText = "备份2张";
        NotifyFromWorker(NOTIFY_BACKUP_DONE, record);
    }

    std::vector<std::string> Balloons() {
        std::lock_guard<std::mutex> lock(m_balloonLock);
        return m_balloons;
    }

    TempDir m_dir{"vellumo-panels"};
    std::unique_ptr<CVellumoCore> m_core;
    std::unique_ptr<TestPanelHost> m_host;
    std::unique_ptr<CXContentWnd> m_content;
    std::mutex m_balloonLock;
    std::vector<std::string> m_balloons;
};

TEST_F(DevicePanel, PhonesPairedEarlierAppearAtStartAndNewOnesWhenNotified) {
    BuildPanels();
    EXPECT_EQ(Devices().HeaderText(), "WiFi传输图片到电脑，就这么简单");
    EXPECT_EQ(Devices().QrButton()->Layout().w, 110);
    ASSERT_NE(Devices().Intro(), nullptr);
    EXPECT_TRUE(Devices().Intro()->IsVisible()) << "the introduction while no phone is paired";
    m_content.reset();

    Pair("k1", "Pixel");
    BuildPanels();
    ASSERT_EQ(Devices().Items().size(), 1u) << "a phone paired in an earlier run";
    EXPECT_EQ(Devices().Items()[0]->name, "Pixel");
    EXPECT_EQ(Devices().QrButton()->Layout().w, 30);
    EXPECT_TRUE(Devices().Intro() == nullptr || !Devices().Intro()->IsVisible());

    Pair("k2", "Galaxy");
    NotifyFromWorker(NOTIFY_DEVICES_CHANGED, nullptr);
    EXPECT_EQ(Devices().Items().size(), 1u) << "nothing changes outside the UI thread";
    m_host->Drain();
    EXPECT_EQ(Devices().Items().size(), 2u);
    EXPECT_EQ(Devices().HeaderText(), "关联的移动设备 (2)");
}

TEST_F(DevicePanel, ProgressRunsAndAHeldLastPhotoEndsTheRunWithABalloonWhenHidden) {
    Pair("k1", "Pixel");
    BuildPanels();
    CXDevInfo::Item* item = Devices().FindItem("k1");
    ASSERT_NE(item, nullptr);

    Progress("k1", 0, 2, 1);
    m_host->Drain();
    EXPECT_FALSE(item->IsIdle());
    EXPECT_TRUE(item->expanded) << "a starting backup opens its item";
    EXPECT_EQ(item->detail, "正在准备备份，请耐心等待。");

    Progress("k1", 1, 2);
    EXPECT_EQ(item->shortStatus, "准备中...") << "the worker's report waits for the UI thread";
    m_host->Drain();
    EXPECT_EQ(item->shortStatus, "备份中... 1/2");
    EXPECT_EQ(item->detail, "预计剩余时间: 00:02  平均速度: 10.00 KB/s");
    EXPECT_EQ(m_core->TrayTip(), "正在备份: Pixel \n进度: 2/2");
    EXPECT_TRUE(Balloons().empty());

    // The phone already held the last photo: reported as total - 0.5, still the end.
    m_host->shown = false;
    Progress("k1", 1.5f, 2);
    m_host->Drain();
    ASSERT_EQ(Balloons().size(), 1u);
    EXPECT_EQ(Balloons()[0], "Vellumo|Pixel  备份完成");

    Done("k1");
    m_host->Drain();
    EXPECT_TRUE(item->IsIdle());
    EXPECT_EQ(item->lastTime, "时间: 2013.05.01 10:20:30");
    EXPECT_EQ(item->lastSummary, "备份2张");
}

TEST_F(DevicePanel, ABackupWithoutProgressForTwentySecondsReturnsToIdle) {
    Pair("k1", "Pixel");
    BuildPanels();
    Progress("k1", 1, 5);
    m_host->Drain();
    CXDevInfo::Item* item = Devices().FindItem("k1");
    ASSERT_FALSE(item->IsIdle());
    auto now = CXDevInfo::Clock::now();
    Devices().CheckStalled(now + std::chrono::seconds(10));
    EXPECT_FALSE(item->IsIdle());
    Devices().CheckStalled(now + std::chrono::seconds(21));
    EXPECT_TRUE(item->IsIdle());
    EXPECT_EQ(item->shortStatus, "");
}

TEST_F(DevicePanel, DeletingIsRefusedWhileAPhoneBacksUpAndLooksTheItemUpAgain) {
    Pair("k1", "Pixel");
    BuildPanels();
    Progress("k1", 1, 3);
    m_host->Drain();
    EXPECT_FALSE(Devices().DeleteDevice("k1"));
    EXPECT_TRUE(m_core->Library()->IsAuthorized("k1"));
    ASSERT_EQ(Devices().Items().size(), 1u);

    Done("k1");
    m_host->Drain();
    EXPECT_TRUE(Devices().DeleteDevice("k1"));
    EXPECT_FALSE(m_core->Library()->IsAuthorized("k1"));
    EXPECT_TRUE(Devices().Items().empty());
    EXPECT_EQ(Devices().QrButton()->Layout().w, 110);
    EXPECT_FALSE(Devices().DeleteDevice("k1")) << "a second command for a removed item";
    // A late report for the removed phone is ignored.
    Progress("k1", 2, 3);
    m_host->Drain();
    EXPECT_TRUE(Devices().Items().empty());
}

// A library of its own at root, with these phones paired.
void MakeLibrary(const fs::path& root,
                 const std::vector<std::pair<std::string, std::string>>& phones) {
    fs::create_directories(root);
    CHDBCenter library;
    library.SetServicePort(-1);
    ASSERT_EQ(library.OpenLibrary(root), 1);
    for (const auto& [key, name] : phones) {
        ASSERT_EQ(library.SetAuth(key, 1, name), 1);
    }
}

TEST_F(DevicePanel, TakingAnotherLibraryIntoUseShowsExactlyItsPhones) {
    fs::path second = m_dir / "second";
    fs::path empty = m_dir / "empty";
    MakeLibrary(second, {{"shared", "Shared phone"}, {"new", "Nokia"}});
    MakeLibrary(empty, {});
    Pair("old", "Pixel");
    Pair("shared", "Shared phone");
    BuildPanels();
    Done("shared"); // its last backup, as read from the first library
    m_host->Drain();
    ASSERT_EQ(Devices().Items().size(), 2u);
    ASSERT_FALSE(Devices().FindItem("shared")->lastTime.empty());
    size_t childrenWithTwo = Devices().Children().size();

    auto adopt = [&](const fs::path& root) {
        CXRootChange change(*m_core, m_host->Dispatcher());
        bool finished = false;
        ASSERT_TRUE(change.StartAdopt(root, [&](const CXRootChange::Result& result) {
            EXPECT_EQ(result.change, CVellumoCore::RootChange::Done) << result.reason;
            finished = true;
        }));
        ASSERT_TRUE(WaitFor(
            [&] {
                m_host->Drain();
                return finished;
            },
            std::chrono::seconds(30)));
        m_host->Drain();
    };

    adopt(second);
    ASSERT_EQ(Devices().Items().size(), 2u);
    EXPECT_EQ(Devices().FindItem("old"), nullptr) << "a phone the new library does not know";
    ASSERT_NE(Devices().FindItem("new"), nullptr);
    EXPECT_EQ(Devices().FindItem("new")->name, "Nokia");
    ASSERT_NE(Devices().FindItem("shared"), nullptr);
    EXPECT_TRUE(Devices().FindItem("shared")->lastTime.empty())
        << "no backup of it in this library";
    EXPECT_EQ(Devices().Children().size(), childrenWithTwo) << "the gone item's controls are freed";
    EXPECT_EQ(Devices().HeaderText(), "关联的移动设备 (2)");

    adopt(empty);
    EXPECT_TRUE(Devices().Items().empty());
    EXPECT_EQ(Devices().HeaderText(), "WiFi传输图片到电脑，就这么简单");
    EXPECT_EQ(Devices().QrButton()->Layout().w, 110);
    ASSERT_NE(Devices().Intro(), nullptr);
    EXPECT_TRUE(Devices().Intro()->IsVisible());
    EXPECT_EQ(Devices().ContentHeight(), CXDevInfo::kMinContentHeight);
}

bool Inside(const CHRect& inner, const CHRect& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
}

TEST_F(DevicePanel, EveryItemKeepsItsPartsInsideItselfCollapsedAndExpanded) {
    Pair("phone-a", "A phone whose model name is far too long to be shown whole in its line");
    Pair("phone-b", "Pixel");
    BuildPanels();
    Progress("phone-a", 1, 3);
    Progress("phone-b", 1, 3);
    m_host->Drain();
    ASSERT_EQ(Devices().Items().size(), 2u);
    for (bool expand : {false, true}) {
        for (const auto& item : Devices().Items()) {
            if (item->expanded != expand) {
                Devices().OnElementLButtonDown(item->rect.right - 10, item->rect.top + 5);
                m_host->Drain();
            }
        }
        const CHRect* previous = nullptr;
        for (const auto& item : Devices().Items()) {
            ASSERT_EQ(item->expanded, expand);
            EXPECT_TRUE(Inside(item->busy->Rect(), item->rect))
                << "busy badge, expanded " << expand;
            EXPECT_TRUE(Inside(item->link->Rect(), item->rect)) << "name, expanded " << expand;
            EXPECT_LE(item->link->Rect().right - item->link->Rect().left, 180);
            if (item->folder->IsVisible()) {
                EXPECT_TRUE(Inside(item->folder->Rect(), item->rect)) << "folder button";
            }
            if (previous != nullptr) {
                EXPECT_GE(item->rect.top, previous->bottom) << "items overlap";
            }
            previous = &item->rect;
        }
    }
}

TEST_F(DevicePanel, TheLibraryTotalsAreReadOnceForARushOfStatisticsRequests) {
    FakePlatform platform;
    BuildPanels();
    NativeWindowOptions options;
    options.width = 630;
    options.height = 448;
    ASSERT_TRUE(m_content->CreateWindowed(options));
    CXPCInfo& pc = *m_content->PcPanel();
    const std::string totals = "Vellumo"; // an empty library
    pc.RequestStatistics(false);
    EXPECT_EQ(m_core->TrayTip(), totals) << "the first request reads at once";
    EXPECT_TRUE(platform.timers.empty());

    // Within the gap: no reading now, one reading later for every request meanwhile.
    m_core->SetTrayTip("stale");
    pc.RequestStatistics(false);
    pc.RequestStatistics(true);
    pc.RequestStatistics(false);
    EXPECT_EQ(m_core->TrayTip(), "stale");
    ASSERT_EQ(platform.timers.size(), 1u);
    EXPECT_EQ(platform.timers.begin()->second.period, CXPCInfo::kRefreshGapMs);
    platform.Fire(platform.timers.begin()->first);
    EXPECT_EQ(m_core->TrayTip(), totals) << "the deferred reading ran";
    EXPECT_TRUE(platform.timers.empty()) << "and its timer stopped";
}

TEST_F(DevicePanel, ManyPhonesScrollWithinTheContentAndFewDoNot) {
    for (int i = 0; i < 12; ++i) {
        Pair("k" + std::to_string(i), "Phone " + std::to_string(i));
    }
    BuildPanels();
    UIScrollBar* bar = m_content->ScrollBar();
    EXPECT_GT(Devices().ContentHeight(), 448 - 140);
    EXPECT_TRUE(bar->IsVisible());
    int max = m_content->MaxOffset();
    EXPECT_EQ(max, 40 + 12 * 56 + 140 - 448);
    m_content->ScrollTo(1 << 30);
    EXPECT_EQ(m_content->ScrollOffset(), max) << "never past the end";
    m_content->ScrollTo(-50);
    EXPECT_EQ(m_content->ScrollOffset(), 0);
    m_content->ScrollTo(max);
    EXPECT_EQ(m_content->PcPanel()->Rect().top, 45 - max);

    for (int i = 0; i < 11; ++i) {
        EXPECT_TRUE(Devices().DeleteDevice("k" + std::to_string(i)));
    }
    m_host->Drain();
    EXPECT_FALSE(bar->IsVisible());
    EXPECT_EQ(m_content->ScrollOffset(), 0);
    EXPECT_EQ(m_content->PcPanel()->Rect().top, 45);
}

TEST_F(DevicePanel, ThePairingButtonShowsTheCurrentPayloadAndFocusElsewhereHidesIt) {
    BuildPanels();
    Devices().ShowPairingCode();
    CXQRCodeView* view = Devices().QrView();
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->IsVisible());
    EXPECT_EQ(view->QrText(), Devices().CurrentPairingPayload());
    EXPECT_NE(view->QrText().find(m_core->GetPairingPassword()), std::string::npos);
    ASSERT_TRUE(m_core->SetPairingPassword("654321"));
    view->Show(false);
    Devices().ShowPairingCode();
    EXPECT_NE(view->QrText().find("654321"), std::string::npos) << "rebuilt on every click";
}

TEST(IntroCarousel, ScrollsToEachSlideWithoutOvershootAndWrapsAround) {
    CXIntroAnimate carousel;
    carousel.MoveTo({10, 35, 620, 310});
    const int width = 610;
    for (int slide : {1, 2, 0, 2}) {
        carousel.GoTo(slide);
        int steps = 0;
        int previous = carousel.Offset();
        while (carousel.Offset() != slide * width && steps < 200) {
            carousel.ScrollStep();
            // Monotonic towards the target: never past it.
            if (slide * width >= previous) {
                EXPECT_LE(carousel.Offset(), slide * width);
                EXPECT_GE(carousel.Offset(), previous);
            } else {
                EXPECT_GE(carousel.Offset(), slide * width);
                EXPECT_LE(carousel.Offset(), previous);
            }
            previous = carousel.Offset();
            ++steps;
        }
        EXPECT_EQ(carousel.Offset(), slide * width) << "slide " << slide;
        EXPECT_LT(steps, 60);
    }
    carousel.GoTo(3);
    EXPECT_EQ(carousel.Current(), 0) << "after the last slide comes the first";
    carousel.GoTo(-1);
    EXPECT_EQ(carousel.Current(), 2);
    // The three marks sit side by side near the bottom, centred.
    EXPECT_EQ(carousel.MarkAt(315 - 34, 275), 0);
    EXPECT_EQ(carousel.MarkAt(315, 275), 1);
    EXPECT_EQ(carousel.MarkAt(315 + 34, 275), 2);
    EXPECT_EQ(carousel.MarkAt(315, 100), -1);
}

} // namespace
