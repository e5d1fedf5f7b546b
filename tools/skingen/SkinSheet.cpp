#include "tools/skingen/SkinSheet.h"

#include <algorithm>

namespace skingen {
namespace {

constexpr int kGutter = 2;

cairo_status_t AppendPng(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

std::string SurfaceToPng(cairo_surface_t* surface) {
    std::string png;
    if (cairo_surface_write_to_png_stream(surface, AppendPng, &png) != CAIRO_STATUS_SUCCESS) {
        png.clear();
    }
    return png;
}

} // namespace

SkinSheet::SkinSheet(std::vector<Sprite> sprites, int maxWidth) : m_sprites(std::move(sprites)) {
    std::vector<size_t> order(m_sprites.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return m_sprites[a].height > m_sprites[b].height; });
    int x = kGutter, y = kGutter, shelf = 0;
    for (size_t i : order) {
        const Sprite& sprite = m_sprites[i];
        if (x + sprite.width + kGutter > maxWidth && x > kGutter) {
            x = kGutter;
            y += shelf + kGutter;
            shelf = 0;
        }
        if (!m_rects.emplace(sprite.name, SpriteRect{x, y, sprite.width, sprite.height}).second) {
            m_duplicate = sprite.name;
        }
        x += sprite.width + kGutter;
        shelf = std::max(shelf, sprite.height);
        m_width = std::max(m_width, x);
    }
    m_height = y + shelf + kGutter;
}

const SpriteRect* SkinSheet::Find(const std::string& name) const {
    auto it = m_rects.find(name);
    return it == m_rects.end() ? nullptr : &it->second;
}

std::string SkinSheet::RenderPng(int scale) const {
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, m_width * scale, m_height * scale);
    cairo_t* cr = cairo_create(surface);
    for (const Sprite& sprite : m_sprites) {
        const SpriteRect& rect = m_rects.at(sprite.name);
        cairo_save(cr);
        cairo_scale(cr, scale, scale);
        cairo_translate(cr, rect.x, rect.y);
        cairo_rectangle(cr, 0, 0, rect.w, rect.h);
        cairo_clip(cr);
        sprite.paint(cr);
        cairo_restore(cr);
    }
    cairo_destroy(cr);
    std::string png = SurfaceToPng(surface);
    cairo_surface_destroy(surface);
    return png;
}

std::string RenderSquarePng(int size, void (*paint)(cairo_t*, int)) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cr = cairo_create(surface);
    paint(cr, size);
    cairo_destroy(cr);
    std::string png = SurfaceToPng(surface);
    cairo_surface_destroy(surface);
    return png;
}

} // namespace skingen
