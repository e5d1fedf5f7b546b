#pragma once
// Small cairo helpers the skin's pictures are drawn with. Every picture is drawn in 1x units;
// the sheets scale the context for the 2x pictures, so shapes stay sharp at both sizes.

#include <cairo.h>

#include <cstdint>
#include <string>

namespace skingen {

// Interface colours as 0xRRGGBB.
inline constexpr uint32_t kOrange = 0xED6B3A; // COLORREF 0x3A6BED
inline constexpr uint32_t kOrangeLight = 0xF2875E;
inline constexpr uint32_t kOrangeDark = 0xD4592A;
inline constexpr uint32_t kOrangeTint = 0xFDF0EA;
inline constexpr uint32_t kText = 0x524F4C; // COLORREF 0x4C4F52
inline constexpr uint32_t kTextLight = 0xA3A3A3;
inline constexpr uint32_t kGrey246 = 0xF6F6F6;
inline constexpr uint32_t kGrey213 = 0xD5D5D5;
inline constexpr uint32_t kBorder = 0xDDDDDD;
inline constexpr uint32_t kHover = 0xEEEEEE;
inline constexpr uint32_t kWhite = 0xFFFFFF;

void SetColor(cairo_t* cr, uint32_t rgb, double alpha = 1.0);
void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r);
void FillRounded(cairo_t* cr, double x, double y, double w, double h, double r, uint32_t rgb,
                 double alpha = 1.0);
// A rounded rectangle with a one-unit border drawn inside its bounds.
void FillBordered(cairo_t* cr, double x, double y, double w, double h, double r, uint32_t fill,
                  uint32_t border);
void Line(cairo_t* cr, double x0, double y0, double x1, double y1, double width, uint32_t rgb);
// Text centred in the box (or left-aligned at x when centred is false), vertically centred.
void DrawText(cairo_t* cr, const std::string& text, double pixels, bool bold, uint32_t rgb,
              double x, double y, double w, double h, bool centred = true);

} // namespace skingen
