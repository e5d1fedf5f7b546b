#pragma once
// The program's in-memory raster. Pixels are 32-bit words 0xAARRGGBB in native byte order, rows
// top-down, stride width * 4: the layout of cairo's ARGB32 (32-bit bitmaps, premultiplied
// alpha) and RGB24 (24-bit bitmaps, the top byte is ignored), so the skin can wrap the pixels
// in a cairo surface without copying.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The header of a Windows device-independent bitmap (BITMAPINFOHEADER).
struct DibHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0; // positive: rows bottom-up; negative: top-down
    uint16_t planes = 1;
    uint16_t bitCount = 24;
    uint32_t compression = 0; // BI_RGB
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

struct CHRect {
    int left = 0;
    int top = 0;
    int right = 0; // exclusive
    int bottom = 0;
    bool operator==(const CHRect&) const = default;
};

// A window region as a list of rectangles with their bounding box.
struct CHRegionRects {
    CHRect bounds;
    std::vector<CHRect> rects;
};

// Pixels owned by someone else in CHBitmap's layout (a cairo image surface, a window buffer).
struct CHPixelTarget {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    size_t stride = 0;    // bytes from one row to the next
    bool hasAlpha = true; // false: RGB24, the top byte is ignored and kept opaque
};

class CHBitmap {
public:
    CHBitmap() = default;
    virtual ~CHBitmap() = default;
    CHBitmap(CHBitmap&& other) noexcept;
    CHBitmap& operator=(CHBitmap&& other) noexcept;
    CHBitmap(const CHBitmap&) = delete;
    CHBitmap& operator=(const CHBitmap&) = delete;

    // Zeroed pixels (black; fully transparent at 32 bits). False unless bitsPerPixel is 24 or
    // 32, both sizes are > 0 and the pixel count is within the decoder limit.
    bool Create(int width, int height, int bitsPerPixel);
    // A 24- or 32-bit BI_RGB DIB; length must equal the DIB's stride * height.
    bool CreateFromDib(const DibHeader& header, const void* bits, size_t length);
    // Decodes JPEG, PNG, GIF (first frame), TIFF, BMP, HEIF or AVIF at the image's own size:
    // 32 bits when the image has alpha, else 24.
    bool LoadFromMemory(const void* bytes, size_t length);
    bool LoadFromStream(std::istream& stream);
    // Decodes, applies the EXIF orientation and renders with RenderFitted; a size <= 0 follows
    // the aspect ratio. JPEGs are decoded at the smallest DCT scale that still covers the box.
    bool DecodeThumbnail(const void* bytes, size_t length, int width, int height);
    // Fits the image into width x height: letter-boxed, small images centred unscaled, square
    // boxes filled with the centre square, then a one-pixel translucent grey border.
    bool RenderFitted(const CHBitmap& image, int width, int height);
    // The same, for an image decoded at a reduced scale: the geometry follows the full size
    // fullWidth x fullHeight, the pixels come from image.
    bool RenderFitted(const CHBitmap& image, int fullWidth, int fullHeight, int width, int height);
    // Draws the source rectangle into the destination rectangle of target (scaled with an
    // area filter when the sizes differ; source-over when this bitmap has 32 bits).
    bool Draw(CHBitmap& target, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
              int sh) const;
    bool Draw(const CHPixelTarget& target, int dx, int dy, int dw, int dh, int sx, int sy, int sw,
              int sh) const;
    // Encoder by extension (case-insensitive): .png, .jpg/.jpeg (quality 100), .gif,
    // .tif/.tiff, anything else BMP.
    bool SaveToFile(const std::filesystem::path& path) const;
    // JPEG at quality 100, in memory.
    bool EncodeJpeg(std::string& out) const;
    // Every maximal horizontal run of exactly magenta pixels (R 255, G 0, B 255) as a rectangle
    // one pixel high, top row y = 0. False for an empty bitmap.
    bool CreateRegionFromKey(CHRegionRects& out) const;
    // Hue -180..180, saturation -100..100, lightness -100..100, applied in HSL space.
    void Colourise(int hue, int saturation, int lightness);

    void Release();
    bool IsEmpty() const { return !m_pixels; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitsPerPixel() const { return m_bitsPerPixel; }
    size_t Stride() const { return static_cast<size_t>(m_width) * 4; }
    uint32_t* Row(int y) { return m_pixels.get() + static_cast<size_t>(y) * m_width; }
    const uint32_t* Row(int y) const { return m_pixels.get() + static_cast<size_t>(y) * m_width; }
    uint32_t* Bits() { return m_pixels.get(); }
    const uint32_t* Bits() const { return m_pixels.get(); }
    // The pixel as 0xAARRGGBB, alpha forced to 0xFF for 24-bit bitmaps.
    uint32_t Pixel(int x, int y) const;

    // Images whose declared pixel count exceeds this are refused before any pixel memory is
    // allocated (decompression bombs).
    static constexpr uint64_t kDefaultPixelLimit = 200'000'000;
    static uint64_t PixelLimit();
    // Lowers (or restores) the limit for the whole process, for hosts with little memory.
    static void SetPixelLimit(uint64_t pixels);

private:
    struct FreeDeleter {
        void operator()(uint32_t* p) const;
    };
    std::unique_ptr<uint32_t, FreeDeleter> m_pixels;
    int m_width = 0;
    int m_height = 0;
    int m_bitsPerPixel = 0;
};
