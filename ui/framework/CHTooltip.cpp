#include "ui/framework/CHTooltip.h"

#include "ui/framework/UISkinText.h"

#include <cairo.h>

CHTooltip::~CHTooltip() {
    DestroyNative();
    if (m_surface)
        cairo_surface_destroy(m_surface);
}

bool CHTooltip::ShowAt(int rootX, int rootY, const std::string& text) {
    m_text = SanitizeUiText(text);
    int width = MeasureSkinTextWidth(m_text, nullptr) + 2 * kPadding;
    int height = MeasureSkinTextHeight(m_text, nullptr) + 2 * kPadding;
    if (!HasNative()) {
        NativeWindowOptions options;
        options.popup = true;
        options.taskbar = false;
        options.width = width;
        options.height = height;
        if (!CreateNative(options))
            return false;
    }
    Render(width, height);
    Native()->Resize(width, height);
    Native()->Move(rootX, rootY);
    Native()->Show();
    Native()->Invalidate({0, 0, width, height});
    return true;
}

void CHTooltip::Hide() {
    if (HasNative())
        Native()->Hide();
}

bool CHTooltip::IsShown() const {
    return HasNative() && Native()->IsVisible();
}

void CHTooltip::Render(int width, int height) {
    if (m_surface)
        cairo_surface_destroy(m_surface);
    m_surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(m_surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0.75, 0.75, 0.75);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
    cairo_stroke(cr);
    DrawSkinText(cr, m_text, {kPadding, kPadding, width - kPadding, height - kPadding}, nullptr,
                 0x524C4C, 0x20);
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
}

NativePixels CHTooltip::OnPaint(const NativeRect&) {
    if (!m_surface)
        return {};
    NativePixels pixels;
    pixels.data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(m_surface));
    pixels.width = cairo_image_surface_get_width(m_surface);
    pixels.height = cairo_image_surface_get_height(m_surface);
    pixels.stride = static_cast<size_t>(cairo_image_surface_get_stride(m_surface));
    return pixels;
}
