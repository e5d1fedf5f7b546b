// The element tree: layout, hit testing and paint order, hover, capture, focus, timers and
// what happens to references when elements go away.

#include "FakePlatform.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <string>

namespace {

// An element that fills itself with one colour and logs its hooks.
class Probe : public UIObject {
public:
    Probe(std::string name, uint32_t argb, std::vector<std::string>* log)
        : m_name(std::move(name)), m_argb(argb), m_log(log) {}

    void Draw(cairo_t* cr, const CHRect& rect, const CHRect&) override {
        m_log->push_back("draw " + m_name);
        cairo_set_source_rgba(cr, ((m_argb >> 16) & 0xFF) / 255.0, ((m_argb >> 8) & 0xFF) / 255.0,
                              (m_argb & 0xFF) / 255.0, 1.0);
        cairo_rectangle(cr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        cairo_fill(cr);
    }
    void OnMouseEnter() override { m_log->push_back("enter " + m_name); }
    void OnMouseLeave() override { m_log->push_back("leave " + m_name); }
    bool OnElementLButtonDown(int, int) override {
        m_log->push_back("down " + m_name);
        return true;
    }
    void OnFocusLost(UIObject*) override { m_log->push_back("lost " + m_name); }
    void OnFocusGained(UIObject*) override { m_log->push_back("gained " + m_name); }
    void OnElementTimer(int id) override {
        m_log->push_back("timer " + m_name + " " + std::to_string(id));
        if (onTimer)
            onTimer();
    }
    std::function<void()> onTimer;

private:
    std::string m_name;
    uint32_t m_argb;
    std::vector<std::string>* m_log;
};

uint32_t PixelAt(UIObject& root, int x, int y) {
    NativePixels pixels = root.RenderBuffer(root.Rect());
    return pixels.data[static_cast<size_t>(y) * pixels.stride / 4 + x];
}

class UIObjectTest : public ::testing::Test {
protected:
    FakePlatform platform;
    std::vector<std::string> log;

    Probe* AddProbe(UIObject* parent, const std::string& name, UILayout layout,
                    uint32_t argb = 0xFF000000) {
        auto* probe = parent->Add<Probe>(name, argb, &log);
        probe->SetLayout(layout.x, layout.y, layout.w, layout.h);
        return probe;
    }
};

TEST_F(UIObjectTest, LayoutAnchorsNegativeOffsetsToTheRightAndBottomEdges) {
    auto root = MakeWindowRoot(640, 505);
    Probe* close = AddProbe(root.get(), "close", {-49, 7, 40, 36});
    EXPECT_EQ(close->Rect(), (CHRect{591, 7, 631, 43}));
    Probe* corner = AddProbe(root.get(), "corner", {-30, -20, 10, 10});
    EXPECT_EQ(corner->Rect(), (CHRect{610, 485, 620, 495}));

    // Anchored to the top-left: negative offsets count from the left and top edges.
    auto* anchored = root->Add<Probe>("anchored", 0, &log);
    anchored->SetAnchorTopLeft(true);
    anchored->SetLayout(-10, -5, 20, 20);
    EXPECT_EQ(anchored->Rect(), (CHRect{-10, -5, 10, 15}));

    // A child of a moved parent follows it; a child placed by code stays where it was put.
    Probe* panel = AddProbe(root.get(), "panel", {100, 100, 200, 100});
    Probe* inner = AddProbe(panel, "inner", {-20, 5, 10, 10});
    auto* manual = panel->Add<Probe>("manual", 0, &log);
    manual->MoveTo({1, 2, 3, 4});
    panel->SetLayout(0, 0, 200, 100);
    EXPECT_EQ(inner->Rect(), (CHRect{180, 5, 190, 15}));
    EXPECT_EQ(manual->Rect(), (CHRect{1, 2, 3, 4}));

    // Resizing the window re-anchors right/bottom children.
    NativeEvent resize;
    resize.kind = NativeEventKind::Resized;
    resize.width = 700;
    resize.height = 600;
    root->DispatchEvent(resize);
    EXPECT_EQ(close->Rect(), (CHRect{651, 7, 691, 43}));
    EXPECT_EQ(corner->Rect(), (CHRect{670, 580, 680, 590}));
}

TEST_F(UIObjectTest, ZeroLayoutSizeIsNeverMovedByLayout) {
    auto root = MakeWindowRoot();
    auto* element = root->Add<Probe>("e", 0, &log);
    element->MoveTo({5, 6, 50, 60});
    element->SetLayout(0, 0, 0, 0);
    element->UpdateLayout();
    EXPECT_EQ(element->Rect(), (CHRect{5, 6, 50, 60}));
    element->SetLayout(10, 10, 0, 30); // one size zero: still placed by code
    EXPECT_EQ(element->Rect(), (CHRect{5, 6, 50, 60}));
}

TEST_F(UIObjectTest, LaterSiblingPaintsOnTopAndWinsHitTests) {
    auto root = MakeWindowRoot(100, 100);
    AddProbe(root.get(), "a", {10, 10, 50, 50}, 0xFFFF0000);
    Probe* b = AddProbe(root.get(), "b", {30, 30, 50, 50}, 0xFF0000FF);
    log.clear();
    EXPECT_EQ(PixelAt(*root, 40, 40), 0xFF0000FFu);
    EXPECT_EQ(PixelAt(*root, 15, 15), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(*root, 5, 5), 0x00000000u); // uncovered: transparent
    MoveMouse(*root, 40, 40);
    Press(*root, 40, 40);
    EXPECT_EQ(log.back(), "down b");

    // Bringing the first to the front reverses both.
    root->BringToFront(root->Children()[0].get());
    EXPECT_EQ(PixelAt(*root, 40, 40), 0xFFFF0000u);
    MoveMouse(*root, 41, 41);
    Press(*root, 41, 41);
    EXPECT_EQ(log.back(), "down a");

    // Hidden and non-hit-target elements let the pointer through.
    b->SetHitTarget(false);
    root->BringToFront(b);
    MoveMouse(*root, 42, 42);
    Press(*root, 42, 42);
    EXPECT_EQ(log.back(), "down a");
}

TEST_F(UIObjectTest, PaintSkipsChildrenOutsideTheDirtyRectangleAndClipsToTheParent) {
    auto root = MakeWindowRoot(100, 100);
    Probe* panel = AddProbe(root.get(), "panel", {0, 0, 50, 50}, 0xFF00FF00);
    auto* overhang = panel->Add<Probe>("overhang", 0xFFFF0000, &log);
    overhang->MoveTo({40, 40, 80, 80});
    AddProbe(root.get(), "far", {60, 0, 30, 30}, 0xFF0000FF);
    log.clear();
    root->RenderBuffer({0, 0, 20, 20});
    EXPECT_EQ(log, (std::vector<std::string>{"draw panel"}));
    // The overhanging child is cut at its parent's edge.
    EXPECT_EQ(PixelAt(*root, 45, 45), 0xFFFF0000u);
    EXPECT_EQ(PixelAt(*root, 55, 55), 0x00000000u);
}

TEST_F(UIObjectTest, HoverMovesBetweenOverlappingSiblingsWithLeaveThenEnter) {
    auto root = MakeWindowRoot(200, 200);
    AddProbe(root.get(), "a", {10, 10, 100, 100});
    Probe* b = AddProbe(root.get(), "b", {50, 50, 100, 100});
    Probe* inner = AddProbe(b, "inner", {10, 10, 20, 20});
    MoveMouse(*root, 20, 20);
    EXPECT_EQ(log, (std::vector<std::string>{"enter a"}));
    log.clear();
    MoveMouse(*root, 60, 60); // still inside a, but b lies on top
    EXPECT_EQ(log, (std::vector<std::string>{"leave a", "enter b", "enter inner"}));
    EXPECT_TRUE(inner->IsHovered());
    log.clear();
    MoveMouse(*root, 90, 90);
    EXPECT_EQ(log, (std::vector<std::string>{"leave inner"}));
    log.clear();
    NativeEvent leave;
    leave.kind = NativeEventKind::MouseLeave;
    root->DispatchEvent(leave);
    EXPECT_EQ(log, (std::vector<std::string>{"leave b"}));
    EXPECT_FALSE(b->IsHovered());
}

TEST_F(UIObjectTest, FocusMovesToThePressedElementAndKeysFollowIt) {
    auto root = MakeWindowRoot();
    Probe* a = AddProbe(root.get(), "a", {0, 0, 50, 50});
    AddProbe(root.get(), "b", {100, 0, 50, 50});
    Click(*root, 10, 10);
    EXPECT_EQ(root->FocusedElement(), a);
    log.clear();
    Click(*root, 110, 10);
    EXPECT_EQ(log,
              (std::vector<std::string>{"leave a", "enter b", "lost a", "gained b", "down b"}));
    EXPECT_GE(static_cast<FakeWindow*>(root->Native())->focusGrabs, 2);
}

TEST_F(UIObjectTest, DisabledElementsGetNoButtonEvents) {
    auto root = MakeWindowRoot();
    Probe* a = AddProbe(root.get(), "a", {0, 0, 50, 50});
    a->Enable(false);
    Click(*root, 10, 10);
    EXPECT_EQ(std::count(log.begin(), log.end(), "down a"), 0);
}

TEST_F(UIObjectTest, TimerIdsGrowFromOneAndAreReusedOnlyAfterAKill) {
    auto root = MakeWindowRoot();
    Probe* a = AddProbe(root.get(), "a", {0, 0, 10, 10});
    EXPECT_EQ(a->SetElementTimer(100), 1);
    EXPECT_EQ(a->SetElementTimer(100), 2);
    EXPECT_EQ(a->SetElementTimer(100), 3);
    a->KillElementTimer(2);
    EXPECT_EQ(a->SetElementTimer(100), 4);
    a->KillElementTimer(4);
    EXPECT_EQ(a->SetElementTimer(100), 4);
    EXPECT_EQ(platform.timers.size(), 3u);

    // An element cannot kill another element's timer.
    Probe* b = AddProbe(root.get(), "b", {0, 0, 10, 10});
    b->KillElementTimer(1);
    EXPECT_EQ(root->TimerCount(), 3u);

    // Without a window there are no timers.
    Probe loose("loose", 0, &log);
    EXPECT_EQ(loose.SetElementTimer(10), 0);
}

TEST_F(UIObjectTest, DestroyingAnElementStopsItsTimersAndForgetsItEverywhere) {
    auto root = MakeWindowRoot();
    Probe* panel = AddProbe(root.get(), "panel", {0, 0, 100, 100});
    Probe* child = AddProbe(panel, "child", {10, 10, 20, 20});
    Probe* other = AddProbe(root.get(), "other", {200, 0, 50, 50});
    child->SetElementTimer(50);
    panel->SetElementTimer(50);
    int kept = other->SetElementTimer(50);
    MoveMouse(*root, 15, 15);
    Press(*root, 15, 15);
    child->SetCapture();
    ASSERT_EQ(root->FocusedElement(), child);

    root->DestroyChild(panel);
    EXPECT_EQ(root->TimerCount(), 1u);
    ASSERT_EQ(platform.timers.size(), 1u); // the native timers stopped too
    EXPECT_EQ(root->FocusedElement(), nullptr);
    log.clear();
    for (auto& [id, timer] : platform.timers)
        timer.tick();
    EXPECT_EQ(log, (std::vector<std::string>{"timer other " + std::to_string(kept)}));
    // Input after the destruction reaches the root, not a dangling element.
    MoveMouse(*root, 16, 16);
    Release(*root, 16, 16);
    Press(*root, 16, 16);
    EXPECT_EQ(root->FocusedElement(), root.get());
}

TEST_F(UIObjectTest, AnElementMayDestroyItselfFromItsOwnTimer) {
    auto root = MakeWindowRoot();
    Probe* a = AddProbe(root.get(), "a", {0, 0, 10, 10});
    a->SetElementTimer(10);
    a->SetElementTimer(10);
    a->onTimer = [&] { root->DestroyChild(a); };
    uint64_t first = platform.timers.begin()->first;
    platform.Fire(first);
    EXPECT_TRUE(root->Children().empty());
    EXPECT_TRUE(platform.timers.empty());
}

TEST_F(UIObjectTest, HiddenElementsAreNotPaintedAndInvalidateTheirArea) {
    auto root = MakeWindowRoot(100, 100);
    Probe* a = AddProbe(root.get(), "a", {10, 10, 20, 20}, 0xFFFF0000);
    auto* window = static_cast<FakeWindow*>(root->Native());
    window->invalidated.clear();
    a->Show(false);
    ASSERT_FALSE(window->invalidated.empty());
    EXPECT_EQ(window->invalidated.back(), (NativeRect{10, 10, 20, 20}));
    EXPECT_EQ(PixelAt(*root, 15, 15), 0u);
}

TEST_F(UIObjectTest, NotificationsClimbToTheFirstHandler) {
    auto root = MakeWindowRoot<NotifyRecorder>();
    Probe* panel = AddProbe(root.get(), "panel", {0, 0, 100, 100});
    Probe* leaf = AddProbe(panel, "leaf", {0, 0, 10, 10});
    leaf->NotifyParent(leaf, kNotifyCommand, 42);
    ASSERT_EQ(root->log.size(), 1u);
    EXPECT_EQ(root->log[0].source, leaf);
    EXPECT_EQ(root->log[0].id, 42);
}

} // namespace
