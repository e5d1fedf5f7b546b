// The larger pictures: program icon, wordmarks, computer, drives, slides, step pictures.

#include "tools/skingen/SkinCanvas.h"
#include "tools/skingen/SkinSprites.h"

#include <cmath>

namespace skingen {
namespace {

// The program's mark on a 64-unit grid: a photo on an orange tile.
void PaintMark(cairo_t* cr, double inset, double radius) {
    FillRounded(cr, inset, inset, 64 - 2 * inset, 64 - 2 * inset, radius, kOrange);
    FillRounded(cr, 13, 17, 38, 30, 4, kWhite);
    cairo_move_to(cr, 17, 43);
    cairo_line_to(cr, 28, 29);
    cairo_line_to(cr, 36, 38);
    cairo_line_to(cr, 40, 34);
    cairo_line_to(cr, 47, 43);
    cairo_close_path(cr);
    SetColor(cr, kOrange);
    cairo_fill(cr);
    cairo_arc(cr, 41, 25, 3.2, 0, 2 * M_PI);
    cairo_fill(cr);
}

void PaintIconAt(cairo_t* cr, double x, double y, double size) {
    cairo_save(cr);
    cairo_translate(cr, x, y);
    cairo_scale(cr, size / 64, size / 64);
    PaintMark(cr, 2, 14);
    cairo_restore(cr);
}

void PaintMonitor(cairo_t* cr, double x, double y, double w, double h) {
    // A monitor of w x h (stand included) with the photo mark on its screen.
    double screenH = h * 0.79;
    FillRounded(cr, x, y, w, screenH, 6, kText);
    FillRounded(cr, x + 4, y + 4, w - 8, screenH - 8, 3, kOrangeTint);
    PaintIconAt(cr, x + w / 2 - screenH * 0.3, y + screenH / 2 - screenH * 0.3, screenH * 0.6);
    cairo_move_to(cr, x + w * 0.42, y + screenH);
    cairo_line_to(cr, x + w * 0.58, y + screenH);
    cairo_line_to(cr, x + w * 0.62, y + h - 6);
    cairo_line_to(cr, x + w * 0.38, y + h - 6);
    cairo_close_path(cr);
    SetColor(cr, 0x8A8684);
    cairo_fill(cr);
    FillRounded(cr, x + w * 0.28, y + h - 6, w * 0.44, 6, 3, kText);
}

void PaintPhoneAt(cairo_t* cr, double x, double y, double w, double h, uint32_t screen) {
    FillRounded(cr, x, y, w, h, w * 0.16, kText);
    FillRounded(cr, x + w * 0.08, y + h * 0.12, w * 0.84, h * 0.75, 3, screen);
}

void PaintWifi(cairo_t* cr, double cx, double cy, double scale) {
    SetColor(cr, kOrange);
    cairo_set_line_width(cr, 3 * scale);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    for (int i = 1; i <= 3; ++i) {
        cairo_arc(cr, cx, cy, 8 * i * scale, -M_PI * 0.75, -M_PI * 0.25);
        cairo_stroke(cr);
    }
    cairo_arc(cr, cx, cy, 3 * scale, 0, 2 * M_PI);
    cairo_fill(cr);
}

void PaintQrBlock(cairo_t* cr, double x, double y, double size, uint32_t rgb) {
    // A decorative code: finder squares and a fixed pattern of modules.
    double m = size / 10;
    SetColor(cr, rgb);
    for (auto [fx, fy] : {std::pair{0, 0}, {7, 0}, {0, 7}}) {
        cairo_rectangle(cr, x + fx * m, y + fy * m, 3 * m, 3 * m);
    }
    static const int modules[][2] = {{4, 1}, {5, 3}, {4, 4}, {6, 5}, {8, 4}, {4, 6},
                                     {5, 8}, {7, 7}, {8, 9}, {9, 6}, {6, 9}};
    for (const auto& mod : modules) {
        cairo_rectangle(cr, x + mod[0] * m, y + mod[1] * m, m, m);
    }
    cairo_fill(cr);
}

void PaintPhotoCard(cairo_t* cr, double x, double y, double w, double h, double angle) {
    cairo_save(cr);
    cairo_translate(cr, x + w / 2, y + h / 2);
    cairo_rotate(cr, angle);
    FillBordered(cr, -w / 2, -h / 2, w, h, 3, kWhite, kGrey213);
    cairo_move_to(cr, -w / 2 + 4, h / 2 - 4);
    cairo_line_to(cr, -w / 8, -h / 8);
    cairo_line_to(cr, w / 2 - 4, h / 2 - 4);
    cairo_close_path(cr);
    SetColor(cr, kOrangeLight);
    cairo_fill(cr);
    cairo_restore(cr);
}

void PaintArrowRight(cairo_t* cr, double x0, double x1, double y) {
    Line(cr, x0, y, x1, y, 3, kOrange);
    cairo_move_to(cr, x1 + 4, y);
    cairo_line_to(cr, x1 - 6, y - 7);
    cairo_line_to(cr, x1 - 6, y + 7);
    cairo_close_path(cr);
    cairo_fill(cr);
}

void PaintSlide(cairo_t* cr, int index) {
    FillRounded(cr, 0, 0, 400, 220, 10, 0xFAFAFA);
    switch (index) {
    case 1:
        PaintPhoneAt(cr, 70, 40, 66, 120, 0xF2F2F2);
        PaintWifi(cr, 200, 100, 1.6);
        PaintMonitor(cr, 250, 45, 120, 110);
        DrawText(cr, "手机和电脑连接同一个WiFi", 15, false, kText, 0, 175, 400, 30);
        break;
    case 2:
        PaintMonitor(cr, 60, 45, 130, 115);
        FillRounded(cr, 95, 55, 60, 60, 3, kWhite);
        PaintQrBlock(cr, 100, 60, 50, kText);
        PaintPhoneAt(cr, 250, 40, 66, 120, kWhite);
        Line(cr, 258, 98, 308, 98, 2, kOrange);
        DrawText(cr, "打开App扫描二维码完成配对", 15, false, kText, 0, 175, 400, 30);
        break;
    default:
        PaintPhoneAt(cr, 60, 40, 66, 120, 0xF2F2F2);
        PaintPhotoCard(cr, 150, 62, 34, 28, -0.15);
        PaintPhotoCard(cr, 170, 88, 34, 28, 0.1);
        PaintArrowRight(cr, 150, 230, 135);
        PaintMonitor(cr, 250, 45, 120, 110);
        DrawText(cr, "照片自动备份到电脑", 15, false, kText, 0, 175, 400, 30);
        break;
    }
}

void PaintDisk(cairo_t* cr, uint32_t body) {
    FillRounded(cr, 0, 6, 40, 24, 5, body);
    Line(cr, 5, 22.5, 27, 22.5, 2, kWhite);
    cairo_arc(cr, 33, 22.5, 2, 0, 2 * M_PI);
    SetColor(cr, kWhite);
    cairo_fill(cr);
}

void PaintTile(cairo_t* cr, bool selected) {
    if (!selected) {
        FillBordered(cr, 0, 0, 105, 105, 6, kWhite, kGrey213);
        return;
    }
    FillRounded(cr, 0, 0, 105, 105, 6, kOrange);
    FillRounded(cr, 2, 2, 101, 101, 4, kOrangeTint);
    // The bottom band carries the free-space text in white.
    cairo_save(cr);
    RoundedRect(cr, 0, 0, 105, 105, 6);
    cairo_clip(cr);
    SetColor(cr, kOrange);
    cairo_rectangle(cr, 0, 80, 105, 25);
    cairo_fill(cr);
    cairo_restore(cr);
}

void PaintPasswordPicture(cairo_t* cr) {
    // The top is left clear: the step's headings are drawn there.
    PaintPhoneAt(cr, 40, 110, 70, 128, 0xF2F2F2);
    // A padlock on the phone's screen.
    cairo_set_line_width(cr, 4);
    SetColor(cr, kOrange);
    cairo_arc(cr, 75, 160, 10, M_PI, 0);
    cairo_stroke(cr);
    FillRounded(cr, 60, 160, 30, 24, 4, kOrange);
    cairo_arc(cr, 75, 170, 3, 0, 2 * M_PI);
    SetColor(cr, kWhite);
    cairo_fill(cr);
    FillBordered(cr, 140, 150, 190, 44, 8, kWhite, kOrange);
    for (int i = 0; i < 6; ++i) {
        cairo_arc(cr, 165 + i * 26, 172, 5, 0, 2 * M_PI);
        SetColor(cr, kText);
        cairo_fill(cr);
    }
}

void PaintStepPicture(cairo_t* cr) {
    FillRounded(cr, 0, 0, 330, 220, 10, 0xFAFAFA);
    PaintPhoneAt(cr, 60, 30, 90, 165, kWhite);
    PaintIconAt(cr, 81, 80, 48);
    // A download arrow into the phone, and the network between phone and computer.
    SetColor(cr, kOrange);
    cairo_set_line_width(cr, 4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 105, 150);
    cairo_line_to(cr, 105, 175);
    cairo_move_to(cr, 95, 165);
    cairo_line_to(cr, 105, 175);
    cairo_line_to(cr, 115, 165);
    cairo_stroke(cr);
    PaintWifi(cr, 210, 110, 1.4);
    PaintMonitor(cr, 235, 60, 80, 75);
}

} // namespace

void PaintProgramIcon(cairo_t* cr, int size) {
    cairo_scale(cr, size / 64.0, size / 64.0);
    PaintMark(cr, size <= 24 ? 0 : 2, size <= 24 ? 10 : 14);
}

void PaintTrayIcon(cairo_t* cr, int size) {
    // Tray icons are small: the tile fills the whole square for legibility.
    cairo_scale(cr, size / 64.0, size / 64.0);
    PaintMark(cr, 0, 12);
}

std::vector<Sprite> PictureSprites() {
    std::vector<Sprite> out;
    out.push_back({"wordmark", 94, 34, [](cairo_t* cr) {
                       PaintIconAt(cr, 0, 5, 24);
                       DrawText(cr, "Vellumo", 15, true, kText, 29, 0, 65, 34, false);
                   }});
    out.push_back({"title_icon", 22, 22, [](cairo_t* cr) { PaintIconAt(cr, 0, 0, 22); }});
    out.push_back({"logo", 150, 40, [](cairo_t* cr) {
                       PaintIconAt(cr, 0, 0, 40);
                       DrawText(cr, "Vellumo", 24, true, kText, 48, 0, 102, 40, false);
                   }});
    out.push_back({"computer", 100, 84, [](cairo_t* cr) { PaintMonitor(cr, 0, 0, 100, 84); }});
    out.push_back({"disk", 40, 36, [](cairo_t* cr) { PaintDisk(cr, 0x9A9A9A); }});
    out.push_back({"disk_hl", 40, 36, [](cairo_t* cr) { PaintDisk(cr, kOrange); }});
    out.push_back({"tile", 105, 105, [](cairo_t* cr) { PaintTile(cr, false); }});
    out.push_back({"tile_hl", 105, 105, [](cairo_t* cr) { PaintTile(cr, true); }});
    out.push_back({"password", 350, 250, PaintPasswordPicture});
    for (int i = 1; i <= 3; ++i) {
        out.push_back(
            {"slide_" + std::to_string(i), 400, 220, [i](cairo_t* cr) { PaintSlide(cr, i); }});
    }
    for (const char* state : {"normal", "hover", "press"}) {
        std::string s = state;
        uint32_t fill = s == "normal" ? 0x333333 : s == "hover" ? 0x4A4A4A : 0x1E1E1E;
        out.push_back({"store_" + s, 135, 40, [fill](cairo_t* cr) {
                           FillRounded(cr, 0, 0, 135, 40, 8, fill);
                           PaintPhoneAt(cr, 16, 9, 13, 22, fill);
                           FillRounded(cr, 17, 11.5, 11, 16, 1.5, kWhite);
                           DrawText(cr, "下载 App", 15, true, kWhite, 38, 0, 90, 40);
                       }});
    }
    return out;
}

Sprite StepPicture() {
    return {"step", 330, 220, PaintStepPicture};
}

} // namespace skingen
