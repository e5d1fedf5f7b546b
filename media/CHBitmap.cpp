#include "media/CHBitmap.h"

#include "media/CHBmpEncoder.h"
#include "media/CHFitPlan.h"
#include "media/CHGifEncoder.h"
#include "media/CHImageDecoder.h"
#include "media/CHImageScaler.h"
#include "media/CHJpegEncoder.h"
#include "media/CHOrientation.h"
#include "media/CHPixels.h"
#include "media/CHPngEncoder.h"
#include "media/CHTiffEncoder.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

std::atomic<uint64_t> g_pixelLimit{CHBitmap::kDefaultPixelLimit};

// The thumbnail border: ARGB 3C 7F 7F 7F, premultiplied.
constexpr uint32_t kBorderAlpha = 0x3C;
constexpr uint32_t kBorderGrey = 0x7F;

uint32_t BorderPixel() {
    uint32_t c = CHPixels::Div255(kBorderGrey * kBorderAlpha);
    return kBorderAlpha << 24 | c << 16 | c << 8 | c;
}

void DrawBorder(CHBitmap& bitmap) {
    const uint32_t pen = BorderPixel();
    const bool opaque = bitmap.BitsPerPixel() != 32;
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    auto blend = [&](int x, int y) {
        uint32_t& p = bitmap.Row(y)[x];
        p = CHPixels::Over(pen, opaque ? (p | 0xFF000000u) : p);
    };
    for (int x = 0; x < w; ++x) {
        blend(x, 0);
        if (h > 1) {
            blend(x, h - 1);
        }
    }
    for (int y = 1; y + 1 < h; ++y) {
        blend(0, y);
        if (w > 1) {
            blend(w - 1, y);
        }
    }
}

} // namespace

void CHBitmap::FreeDeleter::operator()(uint32_t* p) const {
    std::free(p);
}

uint64_t CHBitmap::PixelLimit() {
    return g_pixelLimit.load(std::memory_order_relaxed);
}

void CHBitmap::SetPixelLimit(uint64_t pixels) {
    g_pixelLimit.store(pixels, std::memory_order_relaxed);
}

CHBitmap::CHBitmap(CHBitmap&& other) noexcept
    : m_pixels(std::move(other.m_pixels)), m_width(other.m_width), m_height(other.m_height),
      m_bitsPerPixel(other.m_bitsPerPixel) {
    other.m_width = other.m_height = other.m_bitsPerPixel = 0;
}

CHBitmap& CHBitmap::operator=(CHBitmap&& other) noexcept {
    if (this != &other) {
        m_pixels = std::move(other.m_pixels);
        m_width = other.m_width;
        m_height = other.m_height;
        m_bitsPerPixel = other.m_bitsPerPixel;
        other.m_width = other.m_height = other.m_bitsPerPixel = 0;
    }
    return *this;
}

void CHBitmap::Release() {
    m_pixels.reset();
    m_width = m_height = m_bitsPerPixel = 0;
}

bool CHBitmap::Create(int width, int height, int bitsPerPixel) {
    Release();
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width <= 0 || height <= 0) {
        return false;
    }
    const uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (pixels > PixelLimit() || pixels > SIZE_MAX / 4) {
        return false;
    }
    // calloc: zeroed, and large blocks come as untouched zero pages.
    auto* memory = static_cast<uint32_t*>(std::calloc(static_cast<size_t>(pixels), 4));
    if (memory == nullptr) {
        return false;
    }
    m_pixels.reset(memory);
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    return true;
}

uint32_t CHBitmap::Pixel(int x, int y) const {
    if (IsEmpty() || x < 0 || y < 0 || x >= m_width || y >= m_height) {
        return 0;
    }
    uint32_t p = Row(y)[x];
    return m_bitsPerPixel == 32 ? p : (p | 0xFF000000u);
}

bool CHBitmap::CreateFromDib(const DibHeader& header, const void* bits, size_t length) {
    Release();
    if (bits == nullptr || header.compression != 0 ||
        (header.bitCount != 24 && header.bitCount != 32) || header.width <= 0 ||
        header.height == 0 || header.height == INT32_MIN) {
        return false;
    }
    const int height = header.height < 0 ? -header.height : header.height;
    const uint64_t stride = (uint64_t(header.width) * header.bitCount + 31) / 32 * 4;
    uint64_t size = 0;
    if (__builtin_mul_overflow(stride, uint64_t(height), &size) || size != length) {
        return false;
    }
    if (!Create(header.width, height, header.bitCount)) {
        return false;
    }
    const auto* src = static_cast<const uint8_t*>(bits);
    for (int line = 0; line < height; ++line) {
        const uint8_t* in = src + stride * uint64_t(line);
        uint32_t* out = Row(header.height > 0 ? height - 1 - line : line);
        if (header.bitCount == 32) {
            std::memcpy(out, in, Stride());
            continue;
        }
        for (int x = 0; x < m_width; ++x, in += 3) {
            out[x] = 0xFF000000u | uint32_t{in[2]} << 16 | uint32_t{in[1]} << 8 | in[0];
        }
    }
    return true;
}

bool CHBitmap::LoadFromMemory(const void* bytes, size_t length) {
    Release();
    if (bytes == nullptr || length == 0) {
        return false;
    }
    DecodedImage image;
    if (!CHImageDecoder::Decode(std::string_view(static_cast<const char*>(bytes), length),
                                DecodeRequest{}, image)) {
        return false;
    }
    *this = std::move(image.bitmap);
    return true;
}

bool CHBitmap::LoadFromStream(std::istream& stream) {
    Release();
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) {
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size());
}

bool CHBitmap::DecodeThumbnail(const void* bytes, size_t length, int width, int height) {
    Release();
    if (bytes == nullptr || length == 0) {
        return false;
    }
    DecodeRequest request;
    request.wantOrientation = true;
    request.minScale = [width, height](int w, int h, int orientation) {
        const bool swap = CHOrientation::SwapsAxes(orientation);
        CHFitPlan plan;
        if (!CHFitPlan::Make(swap ? h : w, swap ? w : h, width, height, plan)) {
            return 1.0;
        }
        return plan.MinSourceScale();
    };
    DecodedImage image;
    if (!CHImageDecoder::Decode(std::string_view(static_cast<const char*>(bytes), length), request,
                                image)) {
        return false;
    }
    const bool swap = CHOrientation::SwapsAxes(image.orientation);
    const int fullWidth = swap ? image.fullHeight : image.fullWidth;
    const int fullHeight = swap ? image.fullWidth : image.fullHeight;
    if (image.orientation == 1) {
        return RenderFitted(image.bitmap, fullWidth, fullHeight, width, height);
    }
    CHBitmap upright;
    if (!CHOrientation::Apply(image.bitmap, image.orientation, upright)) {
        return false;
    }
    return RenderFitted(upright, fullWidth, fullHeight, width, height);
}

bool CHBitmap::RenderFitted(const CHBitmap& image, int width, int height) {
    return RenderFitted(image, image.Width(), image.Height(), width, height);
}

bool CHBitmap::RenderFitted(const CHBitmap& image, int fullWidth, int fullHeight, int width,
                            int height) {
    CHFitPlan plan;
    if (image.IsEmpty() || !CHFitPlan::Make(fullWidth, fullHeight, width, height, plan)) {
        Release();
        return false;
    }
    CHBitmap out;
    if (!out.Create(plan.width, plan.height, image.BitsPerPixel() == 32 ? 32 : 24)) {
        Release();
        return false;
    }
    // The plan is in full-size pixels; the image may have been decoded smaller.
    const double kx = double(image.Width()) / fullWidth;
    const double ky = double(image.Height()) / fullHeight;
    if (!CHImageScaler::Scale(image, plan.srcX * kx, plan.srcY * ky, plan.srcWidth * kx,
                              plan.srcHeight * ky, out, plan.dstX, plan.dstY, plan.dstWidth,
                              plan.dstHeight)) {
        Release();
        return false;
    }
    DrawBorder(out);
    *this = std::move(out);
    return true;
}

bool CHBitmap::Draw(CHBitmap& target, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
                    int sh) const {
    if (target.IsEmpty() || &target == this) {
        return false;
    }
    CHPixelTarget view{target.Bits(), target.Width(), target.Height(), target.Stride(),
                       target.BitsPerPixel() == 32};
    return Draw(view, dx, dy, dw, dh, sx, sy, sw, sh);
}

bool CHBitmap::Draw(const CHPixelTarget& target, int dx, int dy, int dw, int dh, int sx, int sy,
                    int sw, int sh) const {
    if (IsEmpty() || target.pixels == nullptr || target.width <= 0 || target.height <= 0 ||
        target.stride < size_t(target.width) * 4 || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) {
        return false;
    }
    auto targetRow = [&target](int64_t y) {
        return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(target.pixels) +
                                           target.stride * size_t(y));
    };
    // The part of the destination rectangle inside the target.
    const int64_t x0 = std::max<int64_t>(dx, 0);
    const int64_t y0 = std::max<int64_t>(dy, 0);
    const int64_t x1 = std::min<int64_t>(int64_t{dx} + dw, target.width);
    const int64_t y1 = std::min<int64_t>(int64_t{dy} + dh, target.height);
    if (x0 >= x1 || y0 >= y1) {
        return true;
    }
    const bool sourceAlpha = m_bitsPerPixel == 32;
    const bool targetOpaque = !target.hasAlpha;
    auto put = [&](uint32_t& d, uint32_t s) {
        if (!sourceAlpha) {
            d = s | 0xFF000000u;
        } else {
            d = CHPixels::Over(s, targetOpaque ? (d | 0xFF000000u) : d);
        }
    };
    if (dw == sw && dh == sh) {
        for (int64_t y = y0; y < y1; ++y) {
            int64_t srcY = sy + (y - dy);
            if (srcY < 0 || srcY >= m_height) {
                continue;
            }
            const uint32_t* in = Row(static_cast<int>(srcY));
            uint32_t* out = targetRow(y);
            for (int64_t x = x0; x < x1; ++x) {
                int64_t srcX = sx + (x - dx);
                if (srcX >= 0 && srcX < m_width) {
                    put(out[x], in[srcX]);
                }
            }
        }
        return true;
    }
    CHBitmap scaled;
    if (!scaled.Create(static_cast<int>(x1 - x0), static_cast<int>(y1 - y0), m_bitsPerPixel) ||
        !CHImageScaler::Scale(*this, sx, sy, sw, sh, scaled, static_cast<int>(dx - x0),
                              static_cast<int>(dy - y0), dw, dh)) {
        return false;
    }
    for (int64_t y = y0; y < y1; ++y) {
        const uint32_t* in = scaled.Row(static_cast<int>(y - y0));
        uint32_t* out = targetRow(y);
        for (int64_t x = x0; x < x1; ++x) {
            put(out[x], in[x - x0]);
        }
    }
    return true;
}

bool CHBitmap::SaveToFile(const std::filesystem::path& path) const {
    if (IsEmpty()) {
        return false;
    }
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string bytes;
    bool ok;
    if (ext == ".png") {
        ok = CHPngEncoder::Encode(*this, bytes);
    } else if (ext == ".jpg" || ext == ".jpeg") {
        ok = CHJpegEncoder::Encode(*this, 100, bytes);
    } else if (ext == ".gif") {
        ok = CHGifEncoder::Encode(*this, bytes);
    } else if (ext == ".tif" || ext == ".tiff") {
        ok = CHTiffEncoder::Encode(*this, bytes);
    } else {
        ok = CHBmpEncoder::Encode(*this, bytes);
    }
    return ok && WriteWholeFile(path, bytes);
}

bool CHBitmap::EncodeJpeg(std::string& out) const {
    return CHJpegEncoder::Encode(*this, 100, out);
}

bool CHBitmap::CreateRegionFromKey(CHRegionRects& out) const {
    out = CHRegionRects{};
    if (IsEmpty()) {
        return false;
    }
    constexpr uint32_t kMagenta = 0xFF00FF;
    bool first = true;
    for (int y = 0; y < m_height; ++y) {
        const uint32_t* row = Row(y);
        int x = 0;
        while (x < m_width) {
            if ((row[x] & 0xFFFFFF) != kMagenta) {
                ++x;
                continue;
            }
            int start = x;
            while (x < m_width && (row[x] & 0xFFFFFF) == kMagenta) {
                ++x;
            }
            if (out.rects.size() == out.rects.capacity()) {
                out.rects.reserve(out.rects.size() + 100);
            }
            CHRect rect{start, y, x, y + 1};
            out.rects.push_back(rect);
            if (first) {
                out.bounds = rect;
                first = false;
            } else {
                out.bounds.left = std::min(out.bounds.left, rect.left);
                out.bounds.right = std::max(out.bounds.right, rect.right);
                out.bounds.bottom = rect.bottom;
            }
        }
    }
    return true;
}

void CHBitmap::Colourise(int hue, int saturation, int lightness) {
    if (IsEmpty()) {
        return;
    }
    hue = std::clamp(hue, -180, 180);
    saturation = std::clamp(saturation, -100, 100);
    int hueMap[256];
    int satMap[256];
    int lightMap[256];
    const int k = std::clamp(saturation * 255 / 100, -255, 255);
    for (int i = 0; i < 256; ++i) {
        int h = hue * 255 / 360 + i;
        if (h < 0) {
            h += 255;
        } else if (h > 255) {
            h -= 255;
        }
        hueMap[i] = h;
        satMap[i] = std::clamp(i * (k + 255) / 255, 0, 255);
        int v = lightness > 0 ? i + lightness * (255 - i) / 200 : i + lightness * i / 200;
        lightMap[i] = std::clamp(v, 0, 255);
    }
    const bool alpha = m_bitsPerPixel == 32;
    for (int y = 0; y < m_height; ++y) {
        uint32_t* row = Row(y);
        for (int x = 0; x < m_width; ++x) {
            uint32_t p = alpha ? CHPixels::Unpremultiply(row[x]) : row[x];
            const uint32_t a = p >> 24;
            const int R = (p >> 16) & 0xFF;
            const int G = (p >> 8) & 0xFF;
            const int B = p & 0xFF;
            const int mx = std::max({R, G, B});
            const int mn = std::min({R, G, B});
            const double l = (mx + mn) / 2.0 / 255.0;
            double h = 0;
            double s = 0;
            if (mx != mn) {
                const double d = (mx - mn) / 255.0;
                s = l < 0.5 ? d / ((mx + mn) / 255.0) : d / (2.0 - (mx + mn) / 255.0);
                if (R == mx) {
                    h = (G - B) / 255.0 / d;
                } else if (G == mx) {
                    h = (B - R) / 255.0 / d + 2;
                } else {
                    h = (R - G) / 255.0 / d + 4;
                }
                h /= 6;
                if (h < 0) {
                    h += 1;
                }
            }
            h = hueMap[std::clamp(static_cast<int>(std::floor(h * 255)), 0, 255)] / 255.0;
            s = satMap[std::clamp(static_cast<int>(std::floor(s * 255)), 0, 255)] / 255.0;
            const double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
            const double pp = 2 * l - q;
            auto channel = [&](double shift) {
                double t = h * 6 + shift;
                while (t < 0) {
                    t += 6;
                }
                while (t >= 6) {
                    t -= 6;
                }
                double v;
                if (t < 1) {
                    v = pp + (q - pp) * t;
                } else if (t < 3) {
                    v = q;
                } else if (t < 4) {
                    v = pp + (q - pp) * (4 - t);
                } else {
                    v = pp;
                }
                int c = static_cast<int>(std::clamp(v * 255, 0.0, 255.0));
                return static_cast<uint32_t>(lightMap[c]);
            };
            uint32_t result = a << 24 | channel(2) << 16 | channel(0) << 8 | channel(-2);
            if (alpha) {
                // Back to premultiplied; the alpha byte is untouched.
                uint32_t r = CHPixels::Div255(((result >> 16) & 0xFF) * a);
                uint32_t g = CHPixels::Div255(((result >> 8) & 0xFF) * a);
                uint32_t b = CHPixels::Div255((result & 0xFF) * a);
                result = a << 24 | r << 16 | g << 8 | b;
            }
            row[x] = result;
        }
    }
}
