#include "tools/skingen/SkinCanvas.h"

#include "ui/framework/UIResource.h"

#include <pango/pangocairo.h>

#include <cmath>

namespace skingen {

void SetColor(cairo_t* cr, uint32_t rgb, double alpha) {
    cairo_set_source_rgba(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                          (rgb & 0xFF) / 255.0, alpha);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
    r = std::fmin(r, std::fmin(w, h) / 2);
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

void FillRounded(cairo_t* cr, double x, double y, double w, double h, double r, uint32_t rgb,
                 double alpha) {
    RoundedRect(cr, x, y, w, h, r);
    SetColor(cr, rgb, alpha);
    cairo_fill(cr);
}

void FillBordered(cairo_t* cr, double x, double y, double w, double h, double r, uint32_t fill,
                  uint32_t border) {
    FillRounded(cr, x, y, w, h, r, border);
    FillRounded(cr, x + 1, y + 1, w - 2, h - 2, std::fmax(r - 1, 0), fill);
}

void Line(cairo_t* cr, double x0, double y0, double x1, double y1, double width, uint32_t rgb) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_set_line_width(cr, width);
    SetColor(cr, rgb);
    cairo_stroke(cr);
}

void DrawText(cairo_t* cr, const std::string& text, double pixels, bool bold, uint32_t rgb,
              double x, double y, double w, double h, bool centred) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kSkinDefaultFace);
    pango_font_description_set_absolute_size(font, pixels * PANGO_SCALE);
    pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.c_str(), -1);
    int tw = 0, th = 0;
    pango_layout_get_pixel_size(layout, &tw, &th);
    double left = centred ? x + (w - tw) / 2 : x;
    cairo_move_to(cr, left, y + (h - th) / 2);
    SetColor(cr, rgb);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
}

} // namespace skingen
