#pragma once
// Text drawing for every control. Texts reach the screen only through DrawSkinText, which first
// makes them safe: invalid UTF-8 becomes U+FFFD and control characters are dropped (device
// names and history texts come from phones).

#include "media/CHBitmap.h"
#include "shell/IResource.h"

#include <string>
#include <string_view>

// Text-format flags (the skin's "al" values of text styles).
constexpr uint32_t kTextCenter = 0x1;
constexpr uint32_t kTextRight = 0x2;
constexpr uint32_t kTextVCenter = 0x4;
constexpr uint32_t kTextWordBreak = 0x10;
constexpr uint32_t kTextSingleLine = 0x20;
constexpr uint32_t kTextWordEllipsis = 0x40000;

// Valid UTF-8 without control characters. Line feeds survive only when keepLineFeeds is set
// (multi-line drawing); elsewhere a line break becomes one space.
std::string SanitizeUiText(std::string_view text, bool keepLineFeeds = false);

// The font used when a style names none; set from the skin's default font (copied, so the
// skin may be released first). Null returns to the built-in fallback.
void SetDefaultUiFont(const PangoFontDescription* font);
const PangoFontDescription* DefaultUiFont();

// Draws text inside rect: horizontally near / centre / far, vertically centred for single
// lines with kTextVCenter, cut with an ellipsis when kTextWordEllipsis is set. font null: the
// default font. color is a COLORREF.
void DrawSkinText(cairo_t* cr, std::string_view text, const CHRect& rect,
                  const PangoFontDescription* font, SkinColor color, uint32_t flags,
                  bool underline = false);
// The same with the style's font, colour, flags and offset.
void DrawSkinText(cairo_t* cr, std::string_view text, const CHRect& rect,
                  const SkinTextStyle& style);
// Width and height in pixels of the text on one line.
int MeasureSkinTextWidth(std::string_view text, const PangoFontDescription* font);
int MeasureSkinTextHeight(std::string_view text, const PangoFontDescription* font);
