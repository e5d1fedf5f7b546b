#pragma once
// The skin resource as every control and window sees it: the skin package is parsed once, then
// answered through slash-separated paths ("MainWindow/Frames/Top/normal") as ready-to-draw
// records. Drawing targets are cairo contexts; decoded images are CHBitmaps whose pixels are
// cairo ARGB32 (32-bit) or RGB24 (24-bit) and can be wrapped in a cairo surface without copying.
// Fonts are pango font descriptions. Only the UI thread uses it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

class CHBitmap;
namespace Json {
class Value;
}
// The "device context" of the drawing operations, and the font handle.
typedef struct _cairo cairo_t;
typedef struct _PangoFontDescription PangoFontDescription;

// A Windows COLORREF: red in the low byte, then green, then blue.
using SkinColor = uint32_t;
// Marks "no transparent colour" in a style record (COLORREF's invalid colour).
inline constexpr SkinColor kNoColorKey = 0xFFFFFFFF;

constexpr SkinColor SkinRgb(int r, int g, int b) {
    return static_cast<SkinColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

// What an image-style lookup returns. Bitmaps are borrowed from the resource's cache and stay
// valid as long as the resource. A missing node or image leaves the fields zero (keys none).
struct SkinImageStyle {
    int32_t bgX = 0, bgY = 0, bgW = 0, bgH = 0; // background source rectangle
    SkinColor bgKey = kNoColorKey;              // transparent colour of a 24-bit background
    int32_t marginLeft = 0, marginTop = 0, marginRight = 0, marginBottom = 0; // nine-slice
    int32_t drawMode = 0;
    CHBitmap* bgBitmap = nullptr;
    int32_t fgX = 0, fgY = 0, fgW = 0, fgH = 0; // foreground source rectangle
    SkinColor fgKey = kNoColorKey;
    CHBitmap* fgBitmap = nullptr;
    int32_t align = 0; // foreground alignment flags
    int32_t offsetX = 0, offsetY = 0;
};

// The five states of a control's appearance, in table order.
enum SkinState {
    kSkinNormal = 0,
    kSkinGrayed = 1,
    kSkinLighted = 2,
    kSkinPressed = 3,
    kSkinFocused = 4
};
using SkinStateTable = std::array<SkinImageStyle, 5>;

// What a text-style lookup returns. font is borrowed from the resource (null: draw with the
// target's current font); align holds text-format flags (1 centre, 2 right, 4 vertical centre,
// 32 single line, 0x40000 word ellipsis); text is UTF-8.
struct SkinTextStyle {
    const PangoFontDescription* font = nullptr;
    uint32_t align = 0;
    SkinColor color = 0;
    int32_t offsetX = 0, offsetY = 0;
    std::string text;
};

// Four integers of a skin array ([x, y, w, h] or [left, top, right, bottom]) and two ([dx, dy]).
using SkinQuad = std::array<int32_t, 4>;
using SkinPair = std::array<int32_t, 2>;

// Operations in slot order. Paths are UTF-8; a null start node means the "cfg" root. Nothing
// throws; failures are zero records, null pointers and false.
class IResource {
public:
    // Reads the compiled-in resource (module is unused here: resources live in the program).
    virtual bool LoadFromModule(void* module, std::string_view type, int id) = 0;
    virtual bool LoadFromFile(const std::filesystem::path& path) = 0;
    // Parses a whole package; false (and an empty resource) when it is not a sound package.
    virtual bool LoadFromMemory(const void* bytes, size_t length) = 0;
    virtual const Json::Value* FindNode(std::string_view path, const Json::Value* start) = 0;
    virtual int32_t GetInt(std::string_view path, const Json::Value* start) = 0;
    virtual SkinQuad GetRect(std::string_view path, const Json::Value* start) = 0;
    virtual SkinImageStyle GetImageStyle(std::string_view path, const Json::Value* start) = 0;
    virtual SkinPair GetPair(std::string_view path, const Json::Value* start) = 0;
    virtual SkinColor GetColor(std::string_view path, const Json::Value* start) = 0;
    virtual SkinTextStyle GetTextStyle(std::string_view path, const Json::Value* start) = 0;
    // Created once per id; null when the package has no such font.
    virtual const PangoFontDescription* GetFont(int id) = 0;
    // Decoded once per id; null when absent or undecodable. tintable: the image follows SetTint.
    virtual CHBitmap* GetImage(int id, bool tintable) = 0;
    // Copies a blob of a section ("images", "fonts"); true when found and non-empty.
    virtual bool GetBlob(std::string_view section, int id, std::string& out) = 0;
    virtual const PangoFontDescription* GetDefaultFont() = 0;
    virtual const PangoFontDescription* GetDefaultBoldFont() = 0;
    // Hue -180..180, saturation and lightness -100..100; re-colours every tintable image.
    virtual void SetTint(int hue, int saturation, int lightness) = 0;
    virtual SkinColor TintColor(SkinColor color) = 0;
    virtual int GetTintHue() = 0;
    virtual int GetTintSaturation() = 0;
    virtual int GetTintLightness() = 0;

protected:
    ~IResource() = default;
};
