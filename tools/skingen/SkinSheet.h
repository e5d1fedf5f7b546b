#pragma once
// Packs sprites into one sheet and renders it as PNG at 1x or 2x.

#include "tools/skingen/SkinSprites.h"

#include <map>
#include <string>
#include <vector>

namespace skingen {

struct SpriteRect {
    int x = 0, y = 0, w = 0, h = 0;
};

class SkinSheet {
public:
    // Shelf packing in the given order of heights (tallest first), two units of clear gutter
    // around every sprite so scaled pieces never meet their neighbours.
    SkinSheet(std::vector<Sprite> sprites, int maxWidth);
    const SpriteRect* Find(const std::string& name) const;
    // PNG bytes of the sheet drawn at scale 1 or 2; empty on failure.
    std::string RenderPng(int scale) const;
    // The name given to two sprites, if any (the sheet is unusable then).
    const std::string& Duplicate() const { return m_duplicate; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

private:
    std::vector<Sprite> m_sprites;
    std::map<std::string, SpriteRect> m_rects;
    int m_width = 0;
    int m_height = 0;
    std::string m_duplicate;
};

// PNG bytes of a single square drawn by paint at the given pixel size.
std::string RenderSquarePng(int size, void (*paint)(cairo_t*, int));

} // namespace skingen
