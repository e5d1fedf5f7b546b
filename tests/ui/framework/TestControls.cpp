// Controls: the click rule, check and radio boxes, progress and scroll-bar arithmetic, the
// wheel rule, tabs, and one notification per action.

#include "FakePlatform.h"

#include "ui/framework/CreateElement.h"
#include "ui/framework/UIAnimate.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UICheckBox.h"
#include "ui/framework/UICheckBoxEx.h"
#include "ui/framework/UIDropButton.h"
#include "ui/framework/UIGeometry.h"
#include "ui/framework/UIHyperLink.h"
#include "ui/framework/UILabel.h"
#include "ui/framework/UIListView.h"
#include "ui/framework/UIProgress.h"
#include "ui/framework/UIRadioBox.h"
#include "ui/framework/UIScrollBar.h"
#include "ui/framework/UITabCtrl.h"

#include <gtest/gtest.h>

namespace {

class ControlTest : public ::testing::Test {
protected:
    FakePlatform platform;
    std::unique_ptr<NotifyRecorder> root = MakeWindowRoot<NotifyRecorder>(400, 400);

    template <class T, class... Args> T* Place(UILayout at, Args&&... args) {
        T* control = root->Add<T>(std::forward<Args>(args)...);
        control->SetLayout(at.x, at.y, at.w, at.h);
        return control;
    }
    size_t Count(int code) const {
        return std::count_if(root->log.begin(), root->log.end(),
                             [code](const auto& e) { return e.code == code; });
    }
};

TEST_F(ControlTest, AButtonClickIsOnePressAndReleaseOnTheSameEnabledButton) {
    auto* ok = Place<UIButton>({10, 10, 80, 30});
    ok->SetId(100);
    auto* other = Place<UIButton>({200, 10, 80, 30});
    other->SetId(200);

    Click(*root, 20, 20);
    ASSERT_EQ(root->log.size(), 1u); // exactly one notification per click
    EXPECT_EQ(root->log[0].id, 100);
    EXPECT_EQ(root->log[0].code, kNotifyCommand);
    EXPECT_EQ(ok->State(), UIButton::kStateHovered);

    // A drag that starts elsewhere and ends on the button is no click.
    root->log.clear();
    MoveMouse(*root, 300, 300);
    Press(*root, 300, 300);
    MoveMouse(*root, 20, 20);
    Release(*root, 20, 20);
    EXPECT_TRUE(root->log.empty());

    // Pressed on one button and released on another: neither clicks.
    Press(*root, 20, 20);
    MoveMouse(*root, 210, 20);
    EXPECT_EQ(ok->State(), UIButton::kStateNone); // the pressed look follows the pointer
    Release(*root, 210, 20);
    EXPECT_TRUE(root->log.empty());
    EXPECT_EQ(other->State(), UIButton::kStateHovered);

    // Out and back in before the release still clicks once.
    MoveMouse(*root, 20, 20);
    Press(*root, 20, 20);
    MoveMouse(*root, 300, 300);
    MoveMouse(*root, 25, 25);
    EXPECT_EQ(ok->State(), UIButton::kStatePressed);
    Release(*root, 25, 25);
    EXPECT_EQ(root->log.size(), 1u);
}

TEST_F(ControlTest, ADisabledButtonIgnoresHoverAndPressAndDrawsGrayed) {
    auto* button = Place<UIButton>({10, 10, 80, 30});
    button->Enable(false);
    MoveMouse(*root, 20, 20);
    EXPECT_EQ(button->State(), UIButton::kStateNone);
    Click(*root, 20, 20);
    EXPECT_TRUE(root->log.empty());
    EXPECT_EQ(button->DrawIndex(), kSkinGrayed);

    // Disabled while held down: the release does not click.
    button->Enable(true);
    Press(*root, 20, 20);
    button->Enable(false);
    Release(*root, 20, 20);
    EXPECT_TRUE(root->log.empty());
}

TEST_F(ControlTest, HidingAButtonResetsItsState) {
    auto* button = Place<UIButton>({10, 10, 80, 30});
    MoveMouse(*root, 20, 20);
    Press(*root, 20, 20);
    button->Show(false);
    EXPECT_EQ(button->State(), UIButton::kStateNone);
    Release(*root, 20, 20);
    EXPECT_TRUE(root->log.empty());
    button->Show(true);
    EXPECT_EQ(button->DrawIndex(), kSkinNormal);
}

TEST_F(ControlTest, ACheckedBoxKeepsItsTickedLookWhileHovered) {
    auto* box = Place<UICheckBox>({10, 10, 100, 20});
    EXPECT_EQ(box->DrawIndex(), kSkinNormal);
    Click(*root, 20, 20);
    EXPECT_TRUE(box->IsChecked());
    EXPECT_EQ(box->DrawIndex(), kSkinPressed); // still hovered
    Click(*root, 20, 20);
    EXPECT_FALSE(box->IsChecked());
    EXPECT_EQ(box->DrawIndex(), kSkinLighted);
    EXPECT_EQ(Count(kNotifyCommand), 2u);

    auto* ex = Place<UICheckBoxEx>({10, 50, 100, 20});
    ex->SetChecked(true);
    MoveMouse(*root, 20, 55);
    EXPECT_EQ(ex->DrawIndex(), kSkinLighted); // the "Checked" set carries the tick
}

TEST_F(ControlTest, CheckingARadioBoxUnchecksOnlyItsRadioSiblings) {
    auto* first = Place<UIRadioBox>({10, 10, 100, 20});
    auto* second = Place<UIRadioBox>({10, 40, 100, 20});
    auto* check = Place<UICheckBox>({10, 70, 100, 20});
    first->SetChecked(true);
    check->SetChecked(true);
    Click(*root, 20, 45);
    EXPECT_FALSE(first->IsChecked());
    EXPECT_TRUE(second->IsChecked());
    EXPECT_TRUE(check->IsChecked());
    // Clicking the checked one again changes nothing and reports nothing more.
    size_t before = root->log.size();
    Click(*root, 20, 45);
    EXPECT_TRUE(second->IsChecked());
    EXPECT_EQ(root->log.size(), before);
}

TEST_F(ControlTest, ADropButtonFollowsThePointerAfterItsAction) {
    auto* drop = Place<UIDropButton>({10, 10, 80, 30});
    platform.pointerX = 300; // the pointer moved away while the menu was open
    platform.pointerY = 300;
    Click(*root, 20, 20);
    EXPECT_EQ(root->log.size(), 1u);
    EXPECT_EQ(drop->State(), UIButton::kStateNone);
}

TEST_F(ControlTest, ProgressFillsFromTheMinimumAndNeverBeyondTheBar) {
    EXPECT_EQ(UIProgress::FilledWidth(310, 0, 100, 50), 155);
    EXPECT_EQ(UIProgress::FilledWidth(310, 50, 150, 100), 155); // counts from the minimum
    EXPECT_EQ(UIProgress::FilledWidth(310, 0, 100, 250), 310);
    EXPECT_EQ(UIProgress::FilledWidth(310, 0, 100, -5), 0);
    EXPECT_EQ(UIProgress::FilledWidth(310, 10, 10, 10), 0);
    EXPECT_EQ(UIProgress::FilledWidth(310, 20, 10, 15), 0);
    EXPECT_EQ(UIProgress::FilledWidth(310, INT32_MIN, INT32_MAX, INT32_MAX), 310);
}

TEST_F(ControlTest, ScrollThumbGeometry) {
    // Page and position proportional: (page - 1) * L / d long, offset pos * L / d.
    ScrollThumb t = UIScrollBar::ComputeThumb(0, 1000, 250, 500, 400, 20);
    ASSERT_TRUE(t.present);
    EXPECT_EQ(t.length, 100); // MulDiv(249, 400, 1000) = 99.6 -> 100
    EXPECT_EQ(t.offset, 200);
    // No range: no thumb.
    EXPECT_FALSE(UIScrollBar::ComputeThumb(5, 5, 10, 5, 400, 20).present);
    EXPECT_FALSE(UIScrollBar::ComputeThumb(0, 100, 10, 0, 0, 20).present);
    // Page larger than the range: the thumb fills the track.
    t = UIScrollBar::ComputeThumb(0, 300, 448, 0, 438, 20);
    EXPECT_EQ(t.length, 438);
    EXPECT_EQ(t.offset, 0);
    // A short thumb grows to the minimum and stays inside the track at the end.
    t = UIScrollBar::ComputeThumb(0, 100000, 100, 100000, 400, 20);
    EXPECT_EQ(t.length, 20);
    EXPECT_EQ(t.offset + t.length, 400);
    // Page 0: the minimum length, moving over the rest of the track.
    t = UIScrollBar::ComputeThumb(0, 100, 0, 100, 400, 20);
    EXPECT_EQ(t.length, 20);
    EXPECT_EQ(t.offset, 380);
    // A track shorter than the minimum thumb.
    t = UIScrollBar::ComputeThumb(0, 100, 0, 50, 10, 20);
    EXPECT_EQ(t.length, 10);
    EXPECT_EQ(t.offset, 0);
}

TEST_F(ControlTest, ThumbPositionsMapBackToTheRangeWithoutDividingByZero) {
    EXPECT_EQ(UIScrollBar::PositionFromThumb(0, 1000, 250, 0, 400, 100), 0);
    EXPECT_EQ(UIScrollBar::PositionFromThumb(0, 1000, 250, 300, 400, 100), 751);
    EXPECT_EQ(UIScrollBar::PositionFromThumb(0, 1000, 250, 999, 400, 100), 751);
    EXPECT_EQ(UIScrollBar::PositionFromThumb(100, 1100, 250, 150, 400, 100), 100 + 376);
    // A thumb that fills the track cannot move: the position stays at the minimum.
    EXPECT_EQ(UIScrollBar::PositionFromThumb(7, 300, 448, 0, 438, 438), 7);
    EXPECT_EQ(UIScrollBar::PositionFromThumb(7, 300, 448, 5, 438, 438), 7);
}

TEST_F(ControlTest, WheelMovesAnEighthOfAPageInsideTheRange) {
    // Range of 100 or less: nothing.
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 100, 80, 10, -1), 10);
    // Towards the user: forward by page / 8, capped at maximum + 1 - page.
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 1000, 400, 0, -1), 50);
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 1000, 400, 580, -1), 601);
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 1000, 400, 0, -3), 150);
    // Away: back, floored at the minimum.
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 1000, 400, 30, 1), 0);
    // A page larger than the range never scrolls below the minimum.
    EXPECT_EQ(UIScrollBar::WheelPosition(0, 300, 448, 0, -1), 0);
    EXPECT_EQ(UIScrollBar::WheelPosition(10, 300, 448, 10, -2), 10);
}

TEST_F(ControlTest, DraggingTheThumbReportsEachNewPositionOnce) {
    auto* bar = Place<UIScrollBar>({-20, 0, 13, 400}, true);
    bar->SetRange(0, 1000);
    bar->SetPage(250);
    const CHRect thumb = bar->ThumbRect();
    ASSERT_EQ(thumb.top, 0);
    ASSERT_EQ(thumb.bottom, 100);
    int x = (thumb.left + thumb.right) / 2;
    MoveMouse(*root, x, 50);
    Press(*root, x, 50);
    EXPECT_TRUE(bar->IsDragging());
    MoveMouse(*root, x, 110); // 60 pixels down of 300 of travel
    ASSERT_EQ(root->log.size(), 1u);
    EXPECT_EQ(root->log[0].code, kNotifyVScroll);
    EXPECT_EQ(root->log[0].id & 0xFFFF, UIScrollBar::kThumbTrack);
    EXPECT_EQ(static_cast<uint32_t>(root->log[0].id) >> 16, 150u);
    EXPECT_EQ(bar->Pos(), 150);
    MoveMouse(*root, x + 200, 200); // far to the side: ignored
    EXPECT_EQ(bar->Pos(), 150);
    MoveMouse(*root, x, 110); // same place: no second report
    EXPECT_EQ(root->log.size(), 1u);
    MoveMouse(*root, x, 5000); // clamped to the end of the track
    EXPECT_EQ(bar->Pos(), 751);
    Release(*root, x, 5000);
    EXPECT_FALSE(bar->IsDragging());
    EXPECT_EQ(bar->ThumbRect().bottom, 400);

    // Track clicks above and below the thumb page up and down.
    root->log.clear();
    Click(*root, x, 10);
    Click(*root, 5000 > 0 ? x : 0, 399);
    ASSERT_EQ(root->log.size(), 1u); // the thumb now covers the bottom
    EXPECT_EQ(root->log[0].id, UIScrollBar::kPageUp);
}

TEST_F(ControlTest, ScrollPositionIsClampedToTheLastPage) {
    UIScrollBar bar;
    bar.SetRange(0, 1000);
    bar.SetPage(250);
    bar.SetPos(5000);
    EXPECT_EQ(bar.Pos(), 751);
    bar.SetPos(-3);
    EXPECT_EQ(bar.Pos(), 0);
    bar.SetPage(2000);
    bar.SetPos(10);
    EXPECT_EQ(bar.Pos(), 0);
}

TEST_F(ControlTest, TabsSelectOnPressAndStackWhenTallerThanWide) {
    auto* tabs = Place<UITabCtrl>({6, 45, 100, 350});
    tabs->AddItem(100, "设置");
    tabs->AddItem(101, "关于");
    tabs->AddItem(102, "帮助");
    ASSERT_TRUE(tabs->IsVertical());
    const auto& items = tabs->Items();
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].rect.left, 6);
        EXPECT_EQ(items[i].rect.right, 106);
        EXPECT_LE(items[i].rect.bottom, 395) << i; // all three fit
        if (i > 0)
            EXPECT_EQ(items[i].rect.top, items[i - 1].rect.bottom);
    }
    Click(*root, 50, (items[2].rect.top + items[2].rect.bottom) / 2);
    EXPECT_EQ(tabs->CurrentId(), 102);
    Click(*root, 50, (items[2].rect.top + items[2].rect.bottom) / 2); // already current
    ASSERT_EQ(root->log.size(), 1u);
    EXPECT_EQ(root->log[0].id, 102);

    // Wide controls lay items out side by side; narrow texts get the 80-pixel minimum.
    auto* wide = Place<UITabCtrl>({0, 0, 300, 30});
    wide->AddItem(1, "A");
    wide->AddItem(2, "B");
    EXPECT_FALSE(wide->IsVertical());
    EXPECT_EQ(wide->Items()[0].rect, (CHRect{0, 0, 80, 30}));
    EXPECT_EQ(wide->Items()[1].rect, (CHRect{80, 0, 160, 30}));
    wide->ShowItem(1, false);
    EXPECT_EQ(wide->Items()[1].rect, (CHRect{0, 0, 80, 30}));
}

TEST_F(ControlTest, ListWheelScrollsOnlyWhenTheRangeExceedsAHundred) {
    auto* list = Place<UIListView>({0, 0, 200, 100});
    for (int i = 0; i < 3; ++i)
        list->AddRow("row " + std::to_string(i)); // 84 pixels: fits, no bar
    Wheel(*root, 50, 50, -1);
    EXPECT_EQ(list->ScrollOffset(), 0);
    EXPECT_FALSE(list->ScrollBar()->IsVisible());
    for (int i = 3; i < 40; ++i)
        list->AddRow("row " + std::to_string(i));
    EXPECT_TRUE(list->ScrollBar()->IsVisible());
    Wheel(*root, 50, 50, -1);
    EXPECT_EQ(list->ScrollOffset(), 100 / 8);
    Wheel(*root, 50, 50, 5);
    EXPECT_EQ(list->ScrollOffset(), 0);
    // Selection follows the scrolled rows.
    Wheel(*root, 50, 50, -8);
    int offset = list->ScrollOffset();
    Click(*root, 50, 5);
    EXPECT_EQ(list->Selected(), offset / UIListView::kDefaultRowHeight);
}

TEST_F(ControlTest, LinksClickOnlyOnTheirText) {
    auto* link = Place<UIHyperLink>({10, 10, 300, 20});
    link->SetText("二维码配对");
    link->SetId(7);
    int width = link->TextWidth();
    ASSERT_GT(width, 10);
    ASSERT_LT(width, 250);
    MoveMouse(*root, 12, 15);
    EXPECT_EQ(static_cast<FakeWindow*>(root->Native())->cursor, NativeCursor::Hand);
    MoveMouse(*root, 290, 15);
    EXPECT_EQ(static_cast<FakeWindow*>(root->Native())->cursor, NativeCursor::Default);
    Click(*root, 290, 15);
    EXPECT_TRUE(root->log.empty());
    Click(*root, 12, 15);
    ASSERT_EQ(root->log.size(), 1u);
    EXPECT_EQ(root->log[0].id, 7);
}

TEST_F(ControlTest, AnimationRunsOnATimerOnlyWhileStarted) {
    auto* animate = Place<UIAnimate>({0, 0, 28, 28});
    animate->SetFrames(std::vector<SkinImageStyle>(3));
    EXPECT_EQ(root->TimerCount(), 0u);
    animate->Start();
    ASSERT_EQ(platform.timers.size(), 1u);
    EXPECT_EQ(platform.timers.begin()->second.period, UIAnimate::kDefaultPeriod);
    for (int i = 0; i < 4; ++i)
        platform.Fire(platform.timers.begin()->first);
    EXPECT_EQ(animate->Frame(), 1u); // wrapped after the third frame
    animate->SetPeriod(40);
    ASSERT_EQ(platform.timers.size(), 1u);
    EXPECT_EQ(platform.timers.begin()->second.period, 40);
    animate->Stop();
    EXPECT_FALSE(animate->IsRunning());
    EXPECT_TRUE(platform.timers.empty());
    animate->Start();
    root->DestroyChild(animate);
    EXPECT_TRUE(platform.timers.empty());
}

TEST_F(ControlTest, TheFactoryMakesEveryControlWithItsTypeCode) {
    for (int code = 0; code <= 15; ++code) {
        std::unique_ptr<UIObject> element = CreateElement(code);
        if (code == kTypeFrameWindow) {
            EXPECT_EQ(element, nullptr);
            continue;
        }
        ASSERT_NE(element, nullptr) << code;
        EXPECT_EQ(element->TypeCode(), code);
    }
    EXPECT_EQ(CreateElement(16), nullptr);
    EXPECT_EQ(CreateElement(-1), nullptr);
}

} // namespace

#include "ui/framework/UIResource.h"

namespace {

// Every factory control drawn from the built-in skin stays inside its own rectangle, and the
// skinned ones put something on the screen.
TEST_F(ControlTest, EveryControlPaintsFromTheBuiltInSkinInsideItsRectangle) {
    UIResource skin;
    ASSERT_TRUE(skin.LoadFromFile(std::string(VELLUMO_BINARY_DIR) + "/resources/vellumo.uir"));
    const std::pair<int, const char*> uses[] = {
        {kTypePane, "MainWindow/Title"},
        {kTypeButton, "Buttons/Button"},
        {kTypeToolBar, "MainWindow/Title"},
        {kTypeTabCtrl, "Config/Tab"},
        {kTypeListView, "ScrollBar"},
        {kTypeScrollBar, "ScrollBar/Vertical"},
        {kTypeHeader, "ScrollBar"},
        {kTypeLabel, "Config/Label"},
        {kTypeCheckBox, "MainWindow/Checkbox"},
        {kTypeCheckBoxEx, "MainWindow/Checkbox"},
        {kTypeRadioBox, "MainWindow/Checkbox"},
        {kTypeProgress, "DeviceInfoPanel"},
        {kTypeDropButton, "Buttons/Button"},
        {kTypeEditBox, "Config/Edit"},
    };
    const CHRect place{50, 30, 150, 70};
    for (const auto& [code, path] : uses) {
        SCOPED_TRACE(path);
        auto canvas = MakeWindowRoot(200, 100);
        UIObject* control = canvas->AddChild(CreateElement(code));
        control->ApplySkin(&skin, path);
        control->MoveTo(place);
        if (auto* button = dynamic_cast<UIButton*>(control))
            button->SetText("打开文件夹 with a rather long caption that does not fit");
        if (auto* label = dynamic_cast<UILabel*>(control))
            label->SetText("设置");
        if (auto* tabs = dynamic_cast<UITabCtrl*>(control))
            tabs->AddItem(1, "设置");
        if (auto* bar = dynamic_cast<UIScrollBar*>(control)) {
            bar->SetRange(0, 300);
            bar->SetPage(40);
        }
        NativePixels pixels = canvas->RenderBuffer(canvas->Rect());
        int inside = 0;
        for (int y = 0; y < pixels.height; ++y) {
            for (int x = 0; x < pixels.width; ++x) {
                uint32_t pixel = pixels.data[static_cast<size_t>(y) * pixels.stride / 4 + x];
                if (RectContains(place, x, y))
                    inside += pixel != 0;
                else
                    ASSERT_EQ(pixel, 0u) << x << "," << y;
            }
        }
        if (code != kTypeListView && code != kTypeHeader && code != kTypeProgress)
            EXPECT_GT(inside, 0);
    }
}

} // namespace
