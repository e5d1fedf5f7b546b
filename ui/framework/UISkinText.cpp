#include "ui/framework/UISkinText.h"

#include "media/TextCodec.h"
#include "ui/framework/UIGeometry.h"

#include <pango/pangocairo.h>

namespace {

const PangoFontDescription* g_defaultFont = nullptr;

const PangoFontDescription* FallbackFont() {
    static PangoFontDescription* font = [] {
        PangoFontDescription* f = pango_font_description_from_string("Noto Sans CJK SC");
        pango_font_description_set_absolute_size(f, 13 * PANGO_SCALE);
        return f;
    }();
    return font;
}

// One shared layout context for measuring outside any paint.
cairo_t* MeasureContext() {
    static cairo_t* cr = [] {
        cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
        cairo_t* c = cairo_create(surface);
        cairo_surface_destroy(surface);
        return c;
    }();
    return cr;
}

PangoLayout* MakeLayout(cairo_t* cr, std::string_view text, const PangoFontDescription* font) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font ? font : DefaultUiFont());
    std::string safe = SanitizeUiText(text);
    pango_layout_set_text(layout, safe.data(), static_cast<int>(safe.size()));
    return layout;
}

} // namespace

std::string SanitizeUiText(std::string_view text, bool keepLineFeeds) {
    std::string valid = MakeValidUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (size_t i = 0; i < valid.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(valid[i]);
        if (c == '\n' || c == '\r') {
            if (keepLineFeeds) {
                if (c == '\n')
                    out += '\n';
            } else if (c == '\n' || (i + 1 < valid.size() && valid[i + 1] != '\n')) {
                out += ' ';
            }
            continue;
        }
        if (c < 0x20 || c == 0x7F)
            continue;
        // C1 controls U+0080..U+009F are encoded C2 80..C2 9F.
        if (c == 0xC2 && i + 1 < valid.size()) {
            unsigned char next = static_cast<unsigned char>(valid[i + 1]);
            if (next >= 0x80 && next <= 0x9F) {
                ++i;
                continue;
            }
        }
        out += static_cast<char>(c);
    }
    return out;
}

void SetDefaultUiFont(const PangoFontDescription* font) {
    g_defaultFont = font;
}

const PangoFontDescription* DefaultUiFont() {
    return g_defaultFont ? g_defaultFont : FallbackFont();
}

void DrawSkinText(cairo_t* cr, std::string_view text, const CHRect& rect,
                  const PangoFontDescription* font, SkinColor color, uint32_t flags,
                  bool underline) {
    int width = RectWidth(rect), height = RectHeight(rect);
    if (text.empty() || width <= 0 || height <= 0)
        return;
    bool singleLine = (flags & kTextSingleLine) != 0;
    PangoLayout* layout = pango_cairo_create_layout(cr);
    pango_layout_set_font_description(layout, font ? font : DefaultUiFont());
    std::string safe = SanitizeUiText(text, !singleLine);
    pango_layout_set_text(layout, safe.data(), static_cast<int>(safe.size()));
    pango_layout_set_width(layout, width * PANGO_SCALE);
    if (singleLine) {
        pango_layout_set_single_paragraph_mode(layout, TRUE);
        pango_layout_set_ellipsize(layout, (flags & kTextWordEllipsis) ? PANGO_ELLIPSIZE_END
                                                                       : PANGO_ELLIPSIZE_NONE);
    } else {
        pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        if (flags & kTextWordEllipsis) {
            pango_layout_set_height(layout, height * PANGO_SCALE);
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        }
    }
    pango_layout_set_alignment(layout, (flags & kTextCenter)  ? PANGO_ALIGN_CENTER
                                       : (flags & kTextRight) ? PANGO_ALIGN_RIGHT
                                                              : PANGO_ALIGN_LEFT);
    if (underline) {
        PangoAttrList* attrs = pango_attr_list_new();
        pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        pango_layout_set_attributes(layout, attrs);
        pango_attr_list_unref(attrs);
    }
    int textWidth = 0, textHeight = 0;
    pango_layout_get_pixel_size(layout, &textWidth, &textHeight);
    double y = rect.top;
    if (singleLine && (flags & kTextVCenter))
        y = rect.top + (height - textHeight) / 2.0;
    cairo_save(cr);
    cairo_rectangle(cr, rect.left, rect.top, width, height);
    cairo_clip(cr);
    cairo_set_source_rgba(cr, (color & 0xFF) / 255.0, ((color >> 8) & 0xFF) / 255.0,
                          ((color >> 16) & 0xFF) / 255.0, 254.0 / 255.0);
    cairo_move_to(cr, rect.left, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

void DrawSkinText(cairo_t* cr, std::string_view text, const CHRect& rect,
                  const SkinTextStyle& style) {
    DrawSkinText(cr, text, RectOffset(rect, style.offsetX, style.offsetY), style.font, style.color,
                 style.align);
}

int MeasureSkinTextWidth(std::string_view text, const PangoFontDescription* font) {
    PangoLayout* layout = MakeLayout(MeasureContext(), text, font);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return width;
}

int MeasureSkinTextHeight(std::string_view text, const PangoFontDescription* font) {
    PangoLayout* layout = MakeLayout(MeasureContext(), text, font);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return height;
}
