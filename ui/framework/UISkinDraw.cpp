#include "ui/framework/UISkinDraw.h"

#include "ui/framework/UISkinBitmap.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>

namespace {

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Borrows the bitmap's pixels as a cairo surface (no copy).
SurfacePtr WrapBitmap(const CHBitmap& bitmap) {
    cairo_format_t format = bitmap.BitsPerPixel() == 32 ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24;
    auto* data = reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(bitmap.Bits()));
    return SurfacePtr(cairo_image_surface_create_for_data(
        data, format, bitmap.Width(), bitmap.Height(), static_cast<int>(bitmap.Stride())));
}

// How many device pixels one unit of the target's user space covers.
double TargetScale(cairo_t* target) {
    double x = 1, y = 0;
    cairo_user_to_device_distance(target, &x, &y);
    return std::hypot(x, y);
}

bool ClipSource(const CHBitmap& bitmap, CHRect& source) {
    source.left = std::max(source.left, 0);
    source.top = std::max(source.top, 0);
    source.right = std::min(source.right, bitmap.Width());
    source.bottom = std::min(source.bottom, bitmap.Height());
    return source.right > source.left && source.bottom > source.top;
}

// Paints source of pixels scaled into dest. The source is cut out as a sub-surface with padded
// edges, so scaling never samples the neighbouring pictures of a sprite sheet.
void PaintPiece(cairo_t* target, const CHBitmap& pixels, const CHRect& source, const CHRect& dest,
                double scale, SkinScaling scaling) {
    SurfacePtr whole = WrapBitmap(pixels);
    int sw = source.right - source.left;
    int sh = source.bottom - source.top;
    SurfacePtr piece(
        cairo_surface_create_for_rectangle(whole.get(), source.left, source.top, sw, sh));
    int dw = dest.right - dest.left;
    int dh = dest.bottom - dest.top;
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(piece.get());
    cairo_matrix_t matrix;
    cairo_matrix_init_scale(&matrix, double(sw) / dw, double(sh) / dh);
    cairo_matrix_translate(&matrix, -dest.left, -dest.top);
    cairo_pattern_set_matrix(pattern, &matrix);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    bool exact = std::abs(dw * scale - sw) < 1e-6 && std::abs(dh * scale - sh) < 1e-6;
    bool nearest = exact || scaling == SkinScaling::Nearest;
    cairo_pattern_set_filter(pattern, nearest ? CAIRO_FILTER_NEAREST : CAIRO_FILTER_GOOD);
    cairo_save(target);
    cairo_set_operator(target, CAIRO_OPERATOR_OVER);
    cairo_set_source(target, pattern);
    cairo_rectangle(target, dest.left, dest.top, dw, dh);
    cairo_fill(target);
    cairo_restore(target);
    cairo_pattern_destroy(pattern);
}

// The pixels to draw for a bitmap and key: a colour-keyed 24-bit picture becomes its 32-bit
// keyed copy (made once for skin bitmaps); holder keeps a temporary copy alive.
const CHBitmap* PixelsFor(const CHBitmap& bitmap, SkinColor key, CHBitmap& holder) {
    if (bitmap.BitsPerPixel() != 24 || key == kNoColorKey) {
        return &bitmap;
    }
    if (const auto* skin = dynamic_cast<const UISkinBitmap*>(&bitmap)) {
        return skin->KeyedCopy(key);
    }
    return MakeColorKeyedCopy(bitmap, key, holder) ? &holder : nullptr;
}

// One axis of a nine-slice: the source and destination extents of the three bands. Margins are
// kept inside the source, and shrink in proportion when the destination is smaller than them.
struct Bands {
    int src[4]; // band edges in the source
    int dst[4]; // band edges in the destination
};

Bands SplitAxis(int srcStart, int srcLength, int margin0, int margin1, int dstStart,
                int dstLength) {
    int64_t a = std::max(margin0, 0);
    int64_t b = std::max(margin1, 0);
    if (a + b > srcLength) {
        a = a * srcLength / (a + b);
        b = srcLength - a;
    }
    int64_t da = a;
    int64_t db = b;
    if (da + db > dstLength) {
        da = da * dstLength / (da + db);
        db = dstLength - da;
    }
    Bands bands;
    bands.src[0] = srcStart;
    bands.src[1] = srcStart + int(a);
    bands.src[2] = srcStart + srcLength - int(b);
    bands.src[3] = srcStart + srcLength;
    bands.dst[0] = dstStart;
    bands.dst[1] = dstStart + int(da);
    bands.dst[2] = dstStart + dstLength - int(db);
    bands.dst[3] = dstStart + dstLength;
    return bands;
}

void DrawNineSlice(cairo_t* target, const CHRect& dest, const SkinImageStyle& style) {
    if (!style.bgBitmap || style.bgW <= 0 || style.bgH <= 0) {
        return;
    }
    Bands cols = SplitAxis(style.bgX, style.bgW, style.marginLeft, style.marginRight, dest.left,
                           dest.right - dest.left);
    Bands rows = SplitAxis(style.bgY, style.bgH, style.marginTop, style.marginBottom, dest.top,
                           dest.bottom - dest.top);
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            CHRect source{cols.src[col], rows.src[row], cols.src[col + 1], rows.src[row + 1]};
            CHRect to{cols.dst[col], rows.dst[row], cols.dst[col + 1], rows.dst[row + 1]};
            if (source.right > source.left && source.bottom > source.top && to.right > to.left &&
                to.bottom > to.top) {
                DrawBitmap(*style.bgBitmap, target, to, source, style.bgKey);
            }
        }
    }
}

// Where a foreground of size w x h goes inside dest for the alignment flags.
void PlaceForeground(const CHRect& dest, int w, int h, int align, int& left, int& top) {
    int cx = (dest.left + dest.right) / 2 - w / 2;
    int cy = (dest.top + dest.bottom) / 2 - h / 2;
    int farX = dest.right - w;
    int farY = dest.bottom - h;
    switch (align) {
    case 1:
        left = dest.left, top = dest.top;
        break;
    case 2:
        left = cx, top = dest.top;
        break;
    case 4:
        left = farX, top = dest.top;
        break;
    case 8:
        left = dest.left, top = cy;
        break;
    case 16:
        left = farX, top = cy;
        break;
    case 32:
        left = dest.left, top = farY;
        break;
    case 64:
        left = cx, top = farY;
        break;
    case 128:
        left = farX, top = farY;
        break;
    default:
        left = cx, top = cy;
        break;
    }
}

} // namespace

void DrawBitmap(const CHBitmap& bitmap, cairo_t* target, const CHRect& dest, const CHRect& source,
                SkinColor key, SkinScaling scaling) {
    if (!target || bitmap.IsEmpty() || dest.right <= dest.left || dest.bottom <= dest.top) {
        return;
    }
    CHRect clipped = source;
    if (!ClipSource(bitmap, clipped)) {
        return;
    }
    double scale = TargetScale(target);
    const CHBitmap* chosen = &bitmap;
    if (scale > 1.5) {
        if (const auto* skin = dynamic_cast<const UISkinBitmap*>(&bitmap)) {
            if (const UISkinBitmap* twin = skin->HiDpi()) {
                chosen = twin;
                clipped = {clipped.left * 2, clipped.top * 2, clipped.right * 2,
                           clipped.bottom * 2};
            }
        }
    }
    CHBitmap holder;
    const CHBitmap* pixels = PixelsFor(*chosen, key, holder);
    if (!pixels) {
        return;
    }
    // A 1:1 piece at 2x from a 1x picture is still scaled; only exact device sizes copy.
    double pixelScale = chosen == &bitmap ? scale : scale / 2;
    PaintPiece(target, *pixels, clipped, dest, pixelScale, scaling);
}

void DrawImageStyle(cairo_t* target, const CHRect& dest, const SkinImageStyle& style) {
    if (!target || dest.right <= dest.left || dest.bottom <= dest.top) {
        return;
    }
    DrawNineSlice(target, dest, style);
    if (style.fgBitmap && style.fgW > 0 && style.fgH > 0) {
        int left = 0, top = 0;
        PlaceForeground(dest, style.fgW, style.fgH, style.align, left, top);
        // Offsets come from the package: keep the sum inside int even for absurd values.
        int64_t x = int64_t(left) + style.offsetX;
        int64_t y = int64_t(top) + style.offsetY;
        constexpr int64_t kFar = 1 << 24;
        if (x < -kFar || x > kFar || y < -kFar || y > kFar) {
            return;
        }
        left = int(x);
        top = int(y);
        DrawBitmap(*style.fgBitmap, target, {left, top, left + style.fgW, top + style.fgH},
                   {style.fgX, style.fgY, style.fgX + style.fgW, style.fgY + style.fgH},
                   style.fgKey);
    }
}

void DrawImageStyleAt(cairo_t* target, int x, int y, const SkinImageStyle& style) {
    int w = style.bgBitmap ? style.bgW : style.fgW;
    int h = style.bgBitmap ? style.bgH : style.fgH;
    DrawImageStyle(target, {x, y, x + w, y + h}, style);
}
