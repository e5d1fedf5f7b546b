// Texts from phones reach the screen only after they are made safe.

#include "ui/framework/UISkinText.h"

#include <cairo.h>
#include <gtest/gtest.h>

TEST(SkinText, ControlCharactersAndBrokenUtf8AreRemovedBeforeDrawing) {
    EXPECT_EQ(SanitizeUiText("iPhone\x07 de Ana"), "iPhone de Ana");
    EXPECT_EQ(SanitizeUiText(std::string("a\0b", 3)), "ab");
    EXPECT_EQ(SanitizeUiText("tab\there\x7F"), "tabhere");
    EXPECT_EQ(SanitizeUiText("c1\xC2\x85x\xC2\x9Fy"), "c1xy"); // NEL and other C1 controls
    EXPECT_EQ(SanitizeUiText("\xC2\xA0nbsp"), "\xC2\xA0nbsp"); // U+00A0 is not a control
    EXPECT_EQ(SanitizeUiText("bad \xFF\xFE end"), "bad \xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_EQ(SanitizeUiText("cut \xE5\xA4"), "cut \xEF\xBF\xBD");
    EXPECT_EQ(SanitizeUiText("小米手机"), "小米手机");
    // Line breaks: one space on a single line, kept for multi-line drawing.
    EXPECT_EQ(SanitizeUiText("a\r\nb\nc\rd"), "a b c d");
    EXPECT_EQ(SanitizeUiText("a\r\nb\nc", true), "a\nb\nc");
}

TEST(SkinText, HostileTextsDrawInsideTheirRectangle) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 200, 60);
    cairo_t* cr = cairo_create(surface);
    std::string hostile = "\xFF\xFE\x01\x1B[31m" + std::string(600, 'W') + "\xE2\x80\xAE";
    DrawSkinText(cr, hostile, {20, 20, 120, 40}, nullptr, 0x000000, 0x40024);
    DrawSkinText(cr, hostile, {20, 20, 120, 40}, nullptr, 0x000000, 0);
    DrawSkinText(cr, "x", {50, 50, 40, 40}, nullptr, 0, 0x24); // empty rectangle: nothing
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    int inside = 0;
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 200; ++x) {
            uint32_t pixel = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
            bool within = x >= 20 && x < 120 && y >= 20 && y < 40;
            if (!within)
                ASSERT_EQ(pixel, 0u) << x << "," << y;
            else if (pixel)
                ++inside;
        }
    }
    EXPECT_GT(inside, 50);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}

TEST(SkinText, EllipsisKeepsALongNameOnOneLine) {
    std::string name(100, 'M');
    int full = MeasureSkinTextWidth(name, nullptr);
    EXPECT_GT(full, 500);
    EXPECT_GT(MeasureSkinTextWidth("备份中", nullptr), MeasureSkinTextWidth("备", nullptr));
    EXPECT_EQ(MeasureSkinTextWidth("\x01\x02", nullptr), 0);
}
