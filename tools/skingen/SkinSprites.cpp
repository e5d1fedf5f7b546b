#include "tools/skingen/SkinSprites.h"

#include "tools/skingen/SkinCanvas.h"

#include <cmath>

namespace skingen {
namespace {

constexpr uint32_t kGlyphGrey = 0x8A8A8A;
constexpr uint32_t kGlyphLight = 0xCCCCCC;
constexpr uint32_t kFrameActive = kGrey213;
constexpr uint32_t kFrameInactive = 0xE8E8E8;
constexpr uint32_t kSeparator = 0xEEEEEE;

// ---- frames ---------------------------------------------------------------------------------

void AddFrames(std::vector<Sprite>& out) {
    for (bool active : {true, false}) {
        uint32_t border = active ? kFrameActive : kFrameInactive;
        std::string state = active ? "normal" : "grayed";
        out.push_back({"frame_top_" + state, 24, 44, [border](cairo_t* cr) {
                           FillRounded(cr, 0, 0, 24, 60, 8, border);
                           FillRounded(cr, 1, 1, 22, 60, 7, kWhite);
                           Line(cr, 1, 43.5, 23, 43.5, 1, kSeparator);
                       }});
        out.push_back({"frame_left_" + state, 4, 8, [border](cairo_t* cr) {
                           SetColor(cr, kWhite);
                           cairo_paint(cr);
                           Line(cr, 0.5, 0, 0.5, 8, 1, border);
                       }});
        out.push_back({"frame_right_" + state, 4, 8, [border](cairo_t* cr) {
                           SetColor(cr, kWhite);
                           cairo_paint(cr);
                           Line(cr, 3.5, 0, 3.5, 8, 1, border);
                       }});
        out.push_back({"frame_bottom_" + state, 24, 8, [border](cairo_t* cr) {
                           FillRounded(cr, 0, -16, 24, 24, 8, border);
                           FillRounded(cr, 1, -16, 22, 23, 7, kWhite);
                       }});
    }
    out.push_back({"client", 4, 4, [](cairo_t* cr) {
                       SetColor(cr, kWhite);
                       cairo_paint(cr);
                   }});
}

// ---- system button glyphs -------------------------------------------------------------------

void PaintGlyph(cairo_t* cr, const std::string& kind, uint32_t rgb) {
    SetColor(cr, rgb);
    cairo_set_line_width(cr, 1.2);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    if (kind == "close") {
        cairo_move_to(cr, 3.5, 3.5);
        cairo_line_to(cr, 12.5, 12.5);
        cairo_move_to(cr, 12.5, 3.5);
        cairo_line_to(cr, 3.5, 12.5);
        cairo_stroke(cr);
    } else if (kind == "min") {
        cairo_move_to(cr, 3, 8.5);
        cairo_line_to(cr, 13, 8.5);
        cairo_stroke(cr);
    } else if (kind == "max") {
        cairo_rectangle(cr, 3.5, 3.5, 9, 9);
        cairo_stroke(cr);
    } else if (kind == "restore") {
        cairo_rectangle(cr, 3.5, 5.5, 7, 7);
        cairo_move_to(cr, 5.5, 5.5);
        cairo_line_to(cr, 5.5, 3.5);
        cairo_line_to(cr, 12.5, 3.5);
        cairo_line_to(cr, 12.5, 10.5);
        cairo_line_to(cr, 10.5, 10.5);
        cairo_stroke(cr);
    } else if (kind == "gear") {
        // Eight teeth around a ring: the main window's settings button.
        for (int i = 0; i < 8; ++i) {
            double a = i * M_PI / 4;
            cairo_move_to(cr, 8 + 4.5 * std::cos(a), 8 + 4.5 * std::sin(a));
            cairo_line_to(cr, 8 + 6.5 * std::cos(a), 8 + 6.5 * std::sin(a));
        }
        cairo_set_line_width(cr, 1.8);
        cairo_stroke(cr);
        cairo_set_line_width(cr, 1.4);
        cairo_arc(cr, 8, 8, 4.2, 0, 2 * M_PI);
        cairo_stroke(cr);
        cairo_arc(cr, 8, 8, 1.6, 0, 2 * M_PI);
        cairo_fill(cr);
    }
}

void AddSystemButtons(std::vector<Sprite>& out) {
    const struct {
        const char* name;
        uint32_t rgb;
    } tones[] = {{"grey", kGlyphGrey}, {"dark", kText}, {"white", kWhite}, {"light", kGlyphLight}};
    for (const char* kind : {"close", "min", "max", "restore", "gear"}) {
        for (const auto& tone : tones) {
            std::string k = kind;
            uint32_t rgb = tone.rgb;
            out.push_back({"glyph_" + k + "_" + tone.name, 16, 16,
                           [k, rgb](cairo_t* cr) { PaintGlyph(cr, k, rgb); }});
        }
    }
    const struct {
        const char* name;
        uint32_t rgb;
    } pills[] = {{"sys_hover", kHover},
                 {"sys_press", 0xE2E2E2},
                 {"sys_close_hover", kOrange},
                 {"sys_close_press", kOrangeDark}};
    for (const auto& pill : pills) {
        uint32_t rgb = pill.rgb;
        out.push_back(
            {pill.name, 12, 12, [rgb](cairo_t* cr) { FillRounded(cr, 0, 0, 12, 12, 4, rgb); }});
    }
}

// ---- buttons, boxes, tabs, bars -------------------------------------------------------------

void PaintTick(cairo_t* cr) {
    cairo_move_to(cr, 4, 8.2);
    cairo_line_to(cr, 6.8, 11);
    cairo_line_to(cr, 12, 5.2);
    cairo_set_line_width(cr, 1.8);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    SetColor(cr, kWhite);
    cairo_stroke(cr);
}

void AddButtons(std::vector<Sprite>& out) {
    const struct {
        const char* name;
        uint32_t fill;
        uint32_t border;
    } bordered[] = {{"btn_normal", kWhite, kGrey213},     {"btn_hover", kOrangeTint, kOrange},
                    {"btn_press", 0xFBDCCD, kOrangeDark}, {"btn_disabled", 0xF3F3F3, 0xE3E3E3},
                    {"edit_normal", kWhite, kGrey213},    {"edit_disabled", 0xF5F5F5, 0xE3E3E3},
                    {"edit_focus", kWhite, kOrange}};
    for (const auto& b : bordered) {
        uint32_t fill = b.fill, border = b.border;
        out.push_back({b.name, 12, 12, [fill, border](cairo_t* cr) {
                           FillBordered(cr, 0, 0, 12, 12, 4, fill, border);
                       }});
    }
    const struct {
        const char* name;
        uint32_t fill;
    } solid[] = {{"btn_primary", kOrange},
                 {"btn_primary_hover", kOrangeLight},
                 {"btn_primary_press", kOrangeDark}};
    for (const auto& s : solid) {
        uint32_t fill = s.fill;
        out.push_back(
            {s.name, 12, 12, [fill](cairo_t* cr) { FillRounded(cr, 0, 0, 12, 12, 4, fill); }});
    }
    // Check box squares.
    out.push_back({"cb_off", 16, 16,
                   [](cairo_t* cr) { FillBordered(cr, 0, 0, 16, 16, 3, kWhite, 0xBBBBBB); }});
    out.push_back({"cb_off_hover", 16, 16,
                   [](cairo_t* cr) { FillBordered(cr, 0, 0, 16, 16, 3, kWhite, kOrange); }});
    out.push_back({"cb_disabled", 16, 16,
                   [](cairo_t* cr) { FillBordered(cr, 0, 0, 16, 16, 3, 0xF3F3F3, 0xDDDDDD); }});
    out.push_back({"cb_on", 16, 16, [](cairo_t* cr) {
                       FillRounded(cr, 0, 0, 16, 16, 3, kOrange);
                       PaintTick(cr);
                   }});
    out.push_back({"cb_on_hover", 16, 16, [](cairo_t* cr) {
                       FillRounded(cr, 0, 0, 16, 16, 3, kOrangeLight);
                       PaintTick(cr);
                   }});
    // Tab control.
    out.push_back({"tab_bg", 8, 8, [](cairo_t* cr) {
                       SetColor(cr, 0xF7F7F7);
                       cairo_paint(cr);
                       Line(cr, 7.5, 0, 7.5, 8, 1, 0xE8E8E8);
                   }});
    out.push_back({"tab_item", 8, 8, [](cairo_t* cr) {
                       SetColor(cr, 0xF7F7F7);
                       cairo_paint(cr);
                   }});
    out.push_back({"tab_item_on", 12, 12, [](cairo_t* cr) {
                       SetColor(cr, kWhite);
                       cairo_paint(cr);
                       SetColor(cr, kOrange);
                       cairo_rectangle(cr, 0, 0, 3, 12);
                       cairo_fill(cr);
                   }});
    // Scroll bar, progress bar.
    out.push_back(
        {"sb_thumb", 13, 20, [](cairo_t* cr) { FillRounded(cr, 3, 0, 7, 20, 3.5, 0xC8C8C8); }});
    out.push_back(
        {"sb_track", 13, 20, [](cairo_t* cr) { FillRounded(cr, 3, 0, 7, 20, 3.5, 0xF0F0F0); }});
    out.push_back(
        {"prog_bg", 20, 8, [](cairo_t* cr) { FillRounded(cr, 0, 0, 20, 8, 4, 0xEBEBEB); }});
    out.push_back(
        {"prog_fg", 20, 8, [](cairo_t* cr) { FillRounded(cr, 0, 0, 20, 8, 4, kOrange); }});
    // Device list rows.
    out.push_back({"item_bg", 20, 20, [](cairo_t* cr) {
                       SetColor(cr, kWhite);
                       cairo_paint(cr);
                       Line(cr, 0, 19.5, 20, 19.5, 1, 0xEFEFEF);
                   }});
    out.push_back(
        {"item_bg_hl", 20, 20, [](cairo_t* cr) { FillRounded(cr, 0, 0, 20, 20, 6, kOrangeTint); }});
    // QR bubble.
    out.push_back({"bubble", 24, 24,
                   [](cairo_t* cr) { FillBordered(cr, 0, 0, 24, 24, 6, kWhite, kBorder); }});
    for (bool up : {true, false}) {
        out.push_back({up ? "bubble_up" : "bubble_down", 16, 9, [up](cairo_t* cr) {
                           if (!up) {
                               cairo_translate(cr, 0, 9);
                               cairo_scale(cr, 1, -1);
                           }
                           cairo_move_to(cr, 0, 9.5);
                           cairo_line_to(cr, 8, 0.8);
                           cairo_line_to(cr, 16, 9.5);
                           cairo_close_path(cr);
                           SetColor(cr, kWhite);
                           cairo_fill_preserve(cr);
                           SetColor(cr, kBorder);
                           cairo_set_line_width(cr, 1);
                           cairo_stroke(cr);
                       }});
    }
}

// ---- device panel pictures ------------------------------------------------------------------

void PaintPhone(cairo_t* cr, uint32_t body, uint32_t screen) {
    FillRounded(cr, 0, 0, 40, 64, 7, body);
    FillRounded(cr, 3, 8, 34, 48, 2, screen);
    Line(cr, 16, 4, 24, 4, 1.5, screen);
    cairo_arc(cr, 20, 60, 1.8, 0, 2 * M_PI);
    SetColor(cr, screen);
    cairo_fill(cr);
}

void PaintArrowIcon(cairo_t* cr, bool up) {
    // An arrow over a tray: upload (backup) or download.
    SetColor(cr, kOrange);
    cairo_set_line_width(cr, 1.6);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_move_to(cr, 2.5, 10);
    cairo_line_to(cr, 2.5, 13.5);
    cairo_line_to(cr, 13.5, 13.5);
    cairo_line_to(cr, 13.5, 10);
    cairo_move_to(cr, 8, 2.5);
    cairo_line_to(cr, 8, 10);
    if (up) {
        cairo_move_to(cr, 5, 5.5);
        cairo_line_to(cr, 8, 2.5);
        cairo_line_to(cr, 11, 5.5);
    } else {
        cairo_move_to(cr, 5, 7);
        cairo_line_to(cr, 8, 10);
        cairo_line_to(cr, 11, 7);
    }
    cairo_stroke(cr);
}

void AddDevicePictures(std::vector<Sprite>& out) {
    out.push_back({"phone", 40, 64, [](cairo_t* cr) { PaintPhone(cr, kText, 0xF2F2F2); }});
    out.push_back({"phone_hl", 40, 64, [](cairo_t* cr) { PaintPhone(cr, kOrange, kOrangeTint); }});
    out.push_back({"phone_small", 24, 36, [](cairo_t* cr) {
                       cairo_scale(cr, 24.0 / 40, 36.0 / 64);
                       PaintPhone(cr, kText, 0xF2F2F2);
                   }});
    out.push_back({"phone_small_hl", 24, 36, [](cairo_t* cr) {
                       cairo_scale(cr, 24.0 / 40, 36.0 / 64);
                       PaintPhone(cr, kOrange, kOrangeTint);
                   }});
    out.push_back({"dev_backup", 16, 16, [](cairo_t* cr) { PaintArrowIcon(cr, true); }});
    out.push_back({"dev_download", 16, 16, [](cairo_t* cr) { PaintArrowIcon(cr, false); }});
    for (bool down : {true, false}) {
        out.push_back({down ? "chevron_down" : "chevron_up", 12, 8, [down](cairo_t* cr) {
                           double y0 = down ? 2 : 6, y1 = down ? 6 : 2;
                           cairo_move_to(cr, 2, y0);
                           cairo_line_to(cr, 6, y1);
                           cairo_line_to(cr, 10, y0);
                           cairo_set_line_width(cr, 1.5);
                           cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
                           SetColor(cr, kTextLight);
                           cairo_stroke(cr);
                       }});
    }
    out.push_back({"sync", 16, 16, [](cairo_t* cr) {
                       SetColor(cr, kOrange);
                       cairo_set_line_width(cr, 1.6);
                       cairo_arc(cr, 8, 8, 5.5, M_PI * 1.1, M_PI * 1.9);
                       cairo_stroke(cr);
                       cairo_arc(cr, 8, 8, 5.5, M_PI * 0.1, M_PI * 0.9);
                       cairo_stroke(cr);
                       cairo_move_to(cr, 13.5, 3);
                       cairo_line_to(cr, 13.8, 6.6);
                       cairo_line_to(cr, 10.2, 6.2);
                       cairo_move_to(cr, 2.5, 13);
                       cairo_line_to(cr, 2.2, 9.4);
                       cairo_line_to(cr, 5.8, 9.8);
                       cairo_stroke(cr);
                   }});
    // Busy animation over the phone's screen: an arc turning 60 degrees a frame.
    for (int i = 0; i < 6; ++i) {
        out.push_back({"spin_" + std::to_string(i + 1), 28, 28, [i](cairo_t* cr) {
                           cairo_set_line_width(cr, 3);
                           SetColor(cr, 0xE6E6E6);
                           cairo_arc(cr, 14, 14, 10, 0, 2 * M_PI);
                           cairo_stroke(cr);
                           cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
                           SetColor(cr, kOrange);
                           double a = i * M_PI / 3 - M_PI / 2;
                           cairo_arc(cr, 14, 14, 10, a, a + M_PI / 2);
                           cairo_stroke(cr);
                       }});
    }
    // The PC panel's small busy mark: eight dots, the bright one moving round.
    for (int i = 0; i < 8; ++i) {
        out.push_back(
            {"dots_" + std::to_string(i + 1), 18, 18, [i](cairo_t* cr) {
                 for (int k = 0; k < 8; ++k) {
                     double a = k * M_PI / 4 - M_PI / 2;
                     int age = (i - k + 8) % 8;
                     SetColor(cr, kOrange, age == 0 ? 1.0 : std::fmax(0.15, 0.8 - 0.15 * age));
                     cairo_arc(cr, 9 + 6.5 * std::cos(a), 9 + 6.5 * std::sin(a), 1.7, 0, 2 * M_PI);
                     cairo_fill(cr);
                 }
             }});
    }
    out.push_back({"mark", 24, 24, [](cairo_t* cr) {
                       cairo_arc(cr, 12, 12, 4, 0, 2 * M_PI);
                       SetColor(cr, 0xD0D0D0);
                       cairo_fill(cr);
                   }});
    out.push_back({"mark_hl", 24, 24, [](cairo_t* cr) {
                       cairo_arc(cr, 12, 12, 5, 0, 2 * M_PI);
                       SetColor(cr, kOrange);
                       cairo_fill(cr);
                   }});
    out.push_back(
        {"qr_icon", 30, 30, [](cairo_t* cr) {
             FillRounded(cr, 0, 0, 30, 30, 5, kOrangeTint);
             SetColor(cr, kOrange);
             // Finder squares in three corners, a few modules in the fourth.
             for (auto [x, y] : {std::pair{5.0, 5.0}, {17.0, 5.0}, {5.0, 17.0}}) {
                 cairo_rectangle(cr, x, y, 8, 8);
                 cairo_rectangle(cr, x + 6.5, y + 1.5, -5, 5);
                 cairo_rectangle(cr, x + 2.5, y + 2.5, 3, 3);
             }
             for (auto [x, y] :
                  {std::pair{17.0, 17.0}, {21.0, 17.0}, {19.0, 20.0}, {22.0, 22.0}, {17.0, 22.0}}) {
                 cairo_rectangle(cr, x, y, 3, 3);
             }
             cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
             cairo_fill(cr);
         }});
}

} // namespace

std::vector<Sprite> ControlSprites() {
    std::vector<Sprite> out;
    AddFrames(out);
    AddSystemButtons(out);
    AddButtons(out);
    AddDevicePictures(out);
    return out;
}

} // namespace skingen
