// The skinned frame window and the modal dialog, with a small skin package made here.

#include "FakePlatform.h"

#include "tests/support/TestDirs.h"
#include "ui/framework/UIButton.h"
#include "ui/framework/UIDialog.h"
#include "ui/framework/UIFrameWindow.h"
#include "ui/framework/UIResource.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 64 x 64 sprite sheet: opaque grey, with the top-left 3 x 3 pixels transparent (a round
// corner) and the bottom-right 2 x 2 pixels transparent.
std::string SheetPng() {
    CHBitmap sheet;
    EXPECT_TRUE(sheet.Create(64, 64, 32));
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            sheet.Row(y)[x] = ((x < 3 && y < 3) || (x >= 62 && y >= 62)) ? 0 : 0xFF808080;
    TempDir dir("vellumo-frame");
    EXPECT_TRUE(sheet.SaveToFile(dir / "sheet.png"));
    return ReadTestFile(dir / "sheet.png");
}

// Top band 30 high with 8-pixel corners, side bands 4 wide, bottom band 6 high, and a close
// button at the right of the top band.
std::string FramePackage() {
    std::string json = R"({"cfg":{"Frame":{
        "Client":{"bkgnd":{"bi":1000,"bg":[10,40,10,10]}},
        "Frames":{
          "Top":{"normal":{"bi":1000,"bg":[0,0,64,30],"mg":[8,8,8,0]},
                 "grayed":{"bi":1000,"bg":[0,0,64,30],"mg":[8,8,8,0]}},
          "Left":{"normal":{"bi":1000,"bg":[0,30,4,20]},"grayed":{"bi":1000,"bg":[0,30,4,20]}},
          "Right":{"normal":{"bi":1000,"bg":[60,30,4,20]},"grayed":{"bi":1000,"bg":[60,30,4,20]}},
          "Bottom":{"normal":{"bi":1000,"bg":[0,58,64,6],"mg":[8,0,8,6]},
                    "grayed":{"bi":1000,"bg":[0,58,64,6],"mg":[8,0,8,6]}}},
        "SysBtns":{
          "Close":{"size":[-34,2,30,26],"normal":{"bi":1000,"bg":[20,20,10,10]}},
          "Maximize":{"size":[-64,2,30,26]},
          "Restore":{"size":[-64,2,30,26]}}}},
      "res":{"images":[{"id":1000,"name":"sheet.png"}]}})";
    std::string png = SheetPng();
    std::string package = ".uir";
    PutU32(package, static_cast<uint32_t>(json.size()));
    package += json;
    PutU32(package, 1);
    PutU32(package, 1000);
    PutU32(package, static_cast<uint32_t>(png.size()));
    package += png;
    return package;
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string package = FramePackage();
        ASSERT_TRUE(skin.LoadFromMemory(package.data(), package.size()));
    }
    FakePlatform platform;
    UIResource skin;
};

class RecordingFrame : public UIFrameWindow {
public:
    std::vector<int> commands;
    int notifications = 0;
    void OnSystemCommand(int command) override {
        commands.push_back(command);
        UIFrameWindow::OnSystemCommand(command);
    }
};

TEST_F(FrameTest, BandsFollowTheSkinAndTheWindowSize) {
    UIFrameWindow frame;
    ASSERT_TRUE(frame.Create(300, 200, false));
    ASSERT_TRUE(frame.ApplySkin(&skin, "Frame"));
    EXPECT_EQ(frame.TopBand(), (CHRect{0, 0, 300, 30}));
    EXPECT_EQ(frame.BottomBand(), (CHRect{0, 194, 300, 200}));
    EXPECT_EQ(frame.LeftBand(), (CHRect{0, 30, 4, 194}));
    EXPECT_EQ(frame.RightBand(), (CHRect{296, 30, 300, 194}));
    EXPECT_EQ(frame.ClientArea(), (CHRect{4, 30, 296, 194}));
    NativeEvent resize;
    resize.kind = NativeEventKind::Resized;
    resize.width = 400;
    resize.height = 300;
    frame.DispatchEvent(resize);
    EXPECT_EQ(frame.ClientArea(), (CHRect{4, 30, 396, 294}));
    ASSERT_NE(frame.SystemButton(kSysCommandClose), nullptr);
    EXPECT_EQ(frame.SystemButton(kSysCommandClose)->Rect(), (CHRect{366, 2, 396, 28}));
    EXPECT_EQ(frame.SystemButton(kSysCommandMinimize), nullptr); // no node, no button
}

TEST_F(FrameTest, TheTopBandDragsExceptOverItsButtons) {
    UIFrameWindow frame;
    ASSERT_TRUE(frame.Create(300, 200, false));
    frame.ApplySkin(&skin, "Frame");
    auto* window = static_cast<FakeWindow*>(frame.Native());
    EXPECT_EQ(frame.HitTest(100, 10), kHitCaption);
    EXPECT_EQ(frame.HitTest(280, 10), kHitClient); // the close button
    EXPECT_EQ(frame.HitTest(100, 100), kHitClient);
    Press(frame, 100, 10);
    Release(frame, 100, 10);
    EXPECT_EQ(window->moveDrags, 1);
    Press(frame, 100, 100);
    EXPECT_EQ(window->moveDrags, 1);

    frame.SetSizable(true);
    EXPECT_EQ(frame.HitTest(1, 1), kHitTopLeft);
    EXPECT_EQ(frame.HitTest(298, 1), kHitTopRight);
    EXPECT_EQ(frame.HitTest(100, 1), kHitTop);
    EXPECT_EQ(frame.HitTest(100, 10), kHitCaption);
    EXPECT_EQ(frame.HitTest(1, 100), kHitLeft);
    EXPECT_EQ(frame.HitTest(1, 192), kHitBottomLeft);
    EXPECT_EQ(frame.HitTest(298, 100), kHitRight);
    EXPECT_EQ(frame.HitTest(100, 197), kHitBottom);
    EXPECT_EQ(frame.HitTest(299, 197), kHitBottomRight);
    Press(frame, 299, 197);
    ASSERT_EQ(window->resizeEdges.size(), 1u);
    EXPECT_EQ(window->resizeEdges[0], NativeEdge::BottomRight);
}

TEST_F(FrameTest, SystemButtonsActOnceAndMaximizeSwapsWithRestore) {
    auto frame = std::make_unique<RecordingFrame>();
    ASSERT_TRUE(frame->Create(300, 200, false));
    frame->ApplySkin(&skin, "Frame");
    auto* window = static_cast<FakeWindow*>(frame->Native());
    window->visible = true;
    Click(*frame, 280, 10);
    EXPECT_EQ(frame->commands, (std::vector<int>{kSysCommandClose}));
    EXPECT_FALSE(window->visible);

    UIButton* maximize = frame->SystemButton(kSysCommandMaximize);
    UIButton* restore = frame->SystemButton(kSysCommandRestore);
    ASSERT_TRUE(maximize && restore);
    EXPECT_TRUE(maximize->IsVisible());
    EXPECT_FALSE(restore->IsVisible());
    NativeEvent state;
    state.kind = NativeEventKind::StateChanged;
    state.maximized = true;
    frame->DispatchEvent(state);
    EXPECT_FALSE(maximize->IsVisible());
    EXPECT_TRUE(restore->IsVisible());
}

TEST_F(FrameTest, WithoutACompositorTransparentCornerPixelsAreCutFromTheShape) {
    UIFrameWindow frame;
    ASSERT_TRUE(frame.Create(300, 200, true)); // no compositor on the fake platform
    frame.ApplySkin(&skin, "Frame");
    auto* window = static_cast<FakeWindow*>(frame.Native());
    frame.OnNativePaint({0, 0, 10, 10});
    ASSERT_EQ(window->shapeSets, 1);
    auto kept = [&](int x, int y) {
        return std::any_of(window->shape.begin(), window->shape.end(), [&](const NativeRect& r) {
            return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
        });
    };
    EXPECT_FALSE(kept(0, 0));
    EXPECT_FALSE(kept(2, 2));
    EXPECT_TRUE(kept(3, 3));
    EXPECT_TRUE(kept(150, 0));
    EXPECT_TRUE(kept(150, 100));
    EXPECT_FALSE(kept(299, 199)); // bottom-right corner piece
    EXPECT_TRUE(kept(297, 197));
    // The shape is made once, not at every paint.
    frame.OnNativePaint({0, 0, 300, 200});
    EXPECT_EQ(window->shapeSets, 1);

    platform.compositor = true;
    UIFrameWindow layered;
    ASSERT_TRUE(layered.Create(300, 200, true));
    layered.ApplySkin(&skin, "Frame");
    layered.OnNativePaint({0, 0, 300, 200});
    EXPECT_EQ(static_cast<FakeWindow*>(layered.Native())->shapeSets, 0);
}

class TestDialog : public UIDialog {
public:
    bool initialised = false;

protected:
    void OnInitDialog() override { initialised = true; }
};

TEST_F(FrameTest, AModalDialogDisablesItsOwnerUntilItEnds) {
    UIFrameWindow owner;
    ASSERT_TRUE(owner.Create(400, 300, false));
    auto* ownerWindow = static_cast<FakeWindow*>(owner.Native());
    TestDialog dialog;
    dialog.ApplySkin(&skin, "Frame"); // before the native window exists
    bool ownerDisabled = false;
    platform.nestedSteps.push_back([&] {
        ownerDisabled = !ownerWindow->sensitive;
        EXPECT_TRUE(dialog.IsModal());
        EXPECT_TRUE(dialog.HasNative());
        Click(dialog, 280, 10); // the close button
    });
    EXPECT_EQ(dialog.DoModal(&owner, 300, 200), UIDialog::kEndClosed);
    EXPECT_TRUE(dialog.initialised);
    EXPECT_TRUE(ownerDisabled);
    EXPECT_TRUE(ownerWindow->sensitive);
    EXPECT_EQ(ownerWindow->presents, 1);
    EXPECT_FALSE(dialog.HasNative());
    EXPECT_FALSE(dialog.IsModal());

    // An owner that was already disabled stays disabled.
    ownerWindow->sensitive = false;
    platform.nestedSteps.push_back([&] { dialog.EndDialog(7); });
    EXPECT_EQ(dialog.DoModal(&owner, 300, 200), 7);
    EXPECT_FALSE(ownerWindow->sensitive);

    // A quit while the dialog runs ends it and is reported.
    platform.nestedSteps.push_back([&] { platform.QuitLoop(); });
    dialog.DoModal(nullptr, 300, 200);
    EXPECT_TRUE(dialog.QuitRequested());
}

} // namespace
