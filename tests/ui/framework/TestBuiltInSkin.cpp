// The skin the program carries: every node a window reads is there and draws something, the
// fonts name the interface face, and the program icons are compiled in at their sizes.

#include "media/CHBitmap.h"
#include "platform/Resources.h"
#include "resources/BuiltInResources.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPaths.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <pango/pango.h>

#include <string>

namespace {

class BuiltInSkin : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterBuiltInResources();
        s_resource = new UIResource;
        ASSERT_TRUE(s_resource->LoadFromModule(nullptr, kSkinResourceType, kSkinResourceId));
    }
    static void TearDownTestSuite() {
        delete s_resource;
        s_resource = nullptr;
    }
    static UIResource* s_resource;
};
UIResource* BuiltInSkin::s_resource = nullptr;

bool DrawsSomething(const SkinImageStyle& style) {
    return (style.bgBitmap && style.bgW > 0 && style.bgH > 0) ||
           (style.fgBitmap && style.fgW > 0 && style.fgH > 0);
}

// Draws the style into a canvas of its own size (or w x h) and counts the visible pixels.
int VisiblePixels(const SkinImageStyle& style, int w = 0, int h = 0) {
    w = w ? w : std::max(style.bgW, style.fgW);
    h = h ? h : std::max(style.bgH, style.fgH);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(surface);
    DrawImageStyle(cr, {0, 0, w, h}, style);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    int visible = 0;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                      y * cairo_image_surface_get_stride(surface));
        for (int x = 0; x < w; ++x) {
            visible += (row[x] >> 24) > 0;
        }
    }
    cairo_surface_destroy(surface);
    return visible;
}

void ExpectImage(UIResource& r, const std::string& path) {
    SkinImageStyle style = r.GetImageStyle(path, nullptr);
    ASSERT_TRUE(DrawsSomething(style)) << path;
    EXPECT_GT(VisiblePixels(style), 0) << path;
}

void ExpectText(UIResource& r, const std::string& path) {
    SkinTextStyle text = r.GetTextStyle(path, nullptr);
    ASSERT_NE(text.font, nullptr) << path;
    EXPECT_NE(std::string(pango_font_description_get_family(text.font)).find(kSkinDefaultFace),
              std::string::npos)
        << path;
}

void ExpectButton(UIResource& r, const std::string& path, bool textOnly) {
    for (const char* state : {"normal", "grayed", "lighted", "pressed", "focused"}) {
        ASSERT_NE(r.FindNode(path + "/" + state, nullptr), nullptr) << path << " " << state;
        if (!textOnly && std::string(state) != "grayed") {
            ExpectImage(r, path + "/" + state);
        }
        ASSERT_NE(r.FindNode(path + "/Text/" + state, nullptr), nullptr) << path << " " << state;
    }
    EXPECT_NE(r.FindNode(path + "/Text/margin", nullptr), nullptr) << path;
    if (textOnly) {
        ExpectText(r, path + "/Text/normal");
    }
}

void ExpectNode(UIResource& r, const SkinNodeUse& use) {
    const std::string path = use.path;
    SCOPED_TRACE(path);
    ASSERT_NE(r.FindNode(path, nullptr), nullptr);
    switch (use.kind) {
    case SkinNodeKind::Image:
        ExpectImage(r, path);
        break;
    case SkinNodeKind::Text:
        ExpectText(r, path + "/text");
        break;
    case SkinNodeKind::Button:
        ExpectButton(r, path,
                     r.GetImageStyle(path + "/normal", nullptr).bgBitmap == nullptr &&
                         r.GetImageStyle(path + "/normal", nullptr).fgBitmap == nullptr &&
                         path.find("SysBtns") == std::string::npos);
        break;
    case SkinNodeKind::CheckBox:
        ExpectButton(r, path, false);
        break;
    case SkinNodeKind::Edit:
        for (const char* key : {"normal", "grayed", "bkgnd"}) {
            ExpectImage(r, path + "/" + key);
        }
        ExpectText(r, path + "/Text");
        EXPECT_NE(r.FindNode(path + "/margin", nullptr), nullptr);
        break;
    case SkinNodeKind::Frame:
        ExpectImage(r, path + "/Client/bkgnd");
        for (const char* band : {"Top", "Left", "Right", "Bottom"}) {
            for (const char* state : {"normal", "grayed"}) {
                ExpectImage(r, path + "/Frames/" + band + "/" + state);
            }
        }
        break;
    case SkinNodeKind::Pane: {
        SkinQuad size = r.GetRect(path + "/size", nullptr);
        EXPECT_GT(size[2], 0);
        EXPECT_GT(size[3], 0);
        ExpectImage(r, path + "/bkgnd");
        break;
    }
    case SkinNodeKind::ScrollBar:
        ExpectImage(r, path + "/thumb");
        ExpectImage(r, path + "/trackbar");
        break;
    case SkinNodeKind::Tab:
        for (const char* key : {"bkgnd", "Item/normal", "Item/pressed"}) {
            ExpectImage(r, path + "/" + key);
        }
        ExpectText(r, path + "/Text/normal");
        ExpectText(r, path + "/Text/pressed");
        break;
    }
}

TEST_F(BuiltInSkin, EveryNodeTheWindowsReadIsThereAndDraws) {
    for (const SkinNodeUse& use : SkinPaths::kUsed) {
        ExpectNode(*s_resource, use);
    }
}

TEST_F(BuiltInSkin, FramesMatchTheWindowLayouts) {
    // The main window's content starts 45 pixels down and 5 in: the bands must not be larger.
    for (const char* frame : {"MainWindow", "Config/ConfigWindow", "IntroduceWindow", "About"}) {
        std::string base = std::string(frame) + "/Frames/";
        EXPECT_LE(s_resource->GetImageStyle(base + "Top/normal", nullptr).bgH, 45) << frame;
        EXPECT_LE(s_resource->GetImageStyle(base + "Left/normal", nullptr).bgW, 5) << frame;
        EXPECT_LE(s_resource->GetImageStyle(base + "Right/normal", nullptr).bgW, 5) << frame;
        EXPECT_EQ(s_resource->GetRect(std::string(frame) + "/SysBtns/Close/size", nullptr),
                  (SkinQuad{-49, 7, 40, 36}))
            << frame;
    }
    EXPECT_EQ(s_resource->GetRect("MainWindow/Title/size", nullptr), (SkinQuad{13, 6, 94, 34}));
    EXPECT_EQ(s_resource->GetRect("MainWindow/SysBtns/Minimize/size", nullptr),
              (SkinQuad{-89, 7, 40, 36}));
    EXPECT_EQ(s_resource->GetRect("MainWindow/SysBtns/Maximize/size", nullptr),
              (SkinQuad{-129, 7, 40, 36}));
    // The carousel's slides fit the settings window's help page (430 wide, 255 above the marks).
    for (int i = 1; i <= 3; ++i) {
        SkinImageStyle slide = s_resource->GetImageStyle(
            "DeviceInfoPanel/IntroduceAnimate/" + std::to_string(i), nullptr);
        EXPECT_LE(slide.bgW, 430);
        EXPECT_LE(slide.bgH, 255);
    }
    // The busy animation sits on the large device picture; the marks are 24 x 24.
    EXPECT_EQ(s_resource->GetImageStyle("DeviceInfoPanel/Animate/1", nullptr).bgW, 28);
    EXPECT_EQ(s_resource->GetImageStyle("DeviceInfoPanel/index1", nullptr).bgW, 24);
    EXPECT_EQ(s_resource->GetImageStyle("DeviceInfoPanel/QRCode", nullptr).bgW, 30);
}

TEST_F(BuiltInSkin, StepPictureFontsAndTwinsAreThere) {
    CHBitmap* step = s_resource->GetImage(SkinPaths::kStepPictureId, false);
    ASSERT_NE(step, nullptr);
    EXPECT_GT(step->Width(), 100);
    for (int id : {SkinPaths::kFontBold16, SkinPaths::kFontRegular14, SkinPaths::kFontHeading22,
                   SkinPaths::kFontSmall13, SkinPaths::kFontBold14}) {
        const PangoFontDescription* font = s_resource->GetFont(id);
        ASSERT_NE(font, nullptr) << id;
        EXPECT_STREQ(pango_font_description_get_family(font), kSkinDefaultFace);
    }
    EXPECT_NE(s_resource->GetFont(SkinPaths::kFontDefault), nullptr);
    // Every picture has its double-resolution twin.
    auto blobs = s_resource->ListBlobs();
    EXPECT_EQ(blobs[kSkinHiDpiSection].size(), blobs[kSkinImagesSection].size());
    for (int id : blobs[kSkinImagesSection]) {
        auto* picture = dynamic_cast<UISkinBitmap*>(s_resource->GetImage(id, true));
        ASSERT_NE(picture, nullptr) << id;
        EXPECT_NE(picture->HiDpi(), nullptr) << id;
    }
}

TEST_F(BuiltInSkin, ProgramIconsAreCompiledInAtTheirSizes) {
    for (int size : SkinPaths::kIconSizes) {
        std::string png;
        ASSERT_TRUE(LoadResourceBytes(SkinPaths::kIconResourceType, size, png)) << size;
        CHBitmap icon;
        ASSERT_TRUE(icon.LoadFromMemory(png.data(), png.size())) << size;
        EXPECT_EQ(icon.Width(), size);
        EXPECT_EQ(icon.Height(), size);
        EXPECT_EQ(icon.BitsPerPixel(), 32);
    }
    for (int size : SkinPaths::kTrayIconSizes) {
        std::string png;
        EXPECT_TRUE(LoadResourceBytes(SkinPaths::kTrayIconResourceType, size, png)) << size;
    }
}

} // namespace
