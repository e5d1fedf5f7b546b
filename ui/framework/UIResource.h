#pragma once
// The skin resource: parses a skin package once and answers path, style, font and image
// lookups from it. Images and fonts are made on first use and cached by id for the life of the
// resource; a failed load leaves it empty, so every lookup then yields zero records.

#include "shell/IResource.h"
#include "ui/framework/UISkinBitmap.h"

#include <json/value.h>

#include <functional>
#include <map>
#include <memory>
#include <string>

// Section names of the package's "res" object.
inline constexpr const char* kSkinImagesSection = "images";
inline constexpr const char* kSkinFontsSection = "fonts";
// Double-resolution pictures: entries {"id": blob, "for": id of the 1x picture}.
inline constexpr const char* kSkinHiDpiSection = "hidpi";
// The resource type and id under which the program carries its skin.
inline constexpr const char* kSkinResourceType = "UIR";
inline constexpr int kSkinResourceId = 131;
// The face the default fonts and the shipped font records use.
inline constexpr const char* kSkinDefaultFace = "Noto Sans CJK SC";

class UIResource : public IResource {
public:
    UIResource();
    virtual ~UIResource();
    UIResource(const UIResource&) = delete;
    UIResource& operator=(const UIResource&) = delete;

    bool LoadFromModule(void* module, std::string_view type, int id) override;
    bool LoadFromFile(const std::filesystem::path& path) override;
    bool LoadFromMemory(const void* bytes, size_t length) override;
    const Json::Value* FindNode(std::string_view path, const Json::Value* start) override;
    int32_t GetInt(std::string_view path, const Json::Value* start) override;
    SkinQuad GetRect(std::string_view path, const Json::Value* start) override;
    SkinImageStyle GetImageStyle(std::string_view path, const Json::Value* start) override;
    SkinPair GetPair(std::string_view path, const Json::Value* start) override;
    SkinColor GetColor(std::string_view path, const Json::Value* start) override;
    SkinTextStyle GetTextStyle(std::string_view path, const Json::Value* start) override;
    const PangoFontDescription* GetFont(int id) override;
    CHBitmap* GetImage(int id, bool tintable) override;
    bool GetBlob(std::string_view section, int id, std::string& out) override;
    const PangoFontDescription* GetDefaultFont() override;
    const PangoFontDescription* GetDefaultBoldFont() override;
    void SetTint(int hue, int saturation, int lightness) override;
    SkinColor TintColor(SkinColor color) override;
    int GetTintHue() override { return m_hue; }
    int GetTintSaturation() override { return m_saturation; }
    int GetTintLightness() override { return m_lightness; }

    // Called after SetTint re-coloured the pictures, so the framework repaints every window.
    void SetRepaintHandler(std::function<void()> handler) { m_repaint = std::move(handler); }
    bool IsLoaded() const { return m_loaded; }
    // Section name -> blob ids, for listing a package.
    std::map<std::string, std::vector<int>> ListBlobs() const;
    const Json::Value& Document() const { return m_document; }
    // How many picture decodes were tried so far (each id is tried once).
    size_t DecodeCount() const { return m_decodes; }

    // Font records are clamped to this pixel height range.
    static constexpr int kMinFontPixels = 6;
    static constexpr int kMaxFontPixels = 144;
    // Longest face name taken from a font record, in characters.
    static constexpr size_t kMaxFaceNameChars = 31;

private:
    struct FontDeleter {
        void operator()(PangoFontDescription* font) const;
    };
    using FontPtr = std::unique_ptr<PangoFontDescription, FontDeleter>;
    struct CachedImage {
        std::unique_ptr<UISkinBitmap> bitmap; // null: the bytes did not decode
        std::unique_ptr<CHBitmap> untinted;
        bool tintable = false;
    };

    void Clear();
    void IndexSections(const std::map<int32_t, std::string_view>& blobs);
    FontPtr MakeFont(const std::string& blob);
    void ReadBackground(const Json::Value& node, SkinImageStyle& style);
    void ReadForeground(const Json::Value& node, SkinImageStyle& style);
    void TintImage(CachedImage& image);

    Json::Value m_document;
    bool m_loaded = false;
    std::map<std::string, std::map<int, std::string>, std::less<>> m_sections;
    std::map<int, int> m_hiDpiFor; // 1x picture id -> its double-resolution blob id
    std::map<int, CachedImage> m_images;
    std::map<int, FontPtr> m_fonts;
    FontPtr m_defaultFont;
    FontPtr m_defaultBoldFont;
    std::map<SkinColor, SkinColor> m_tintedColors;
    int m_hue = 0, m_saturation = 0, m_lightness = 0;
    size_t m_decodes = 0;
    std::function<void()> m_repaint;
};
