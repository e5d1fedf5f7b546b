#include "ui/framework/UIResource.h"

#include "media/Base64.h"
#include "media/JsonText.h"
#include "media/TextCodec.h"
#include "platform/FileSystem.h"
#include "platform/Resources.h"
#include "ui/framework/UISkinPackage.h"

#include <pango/pango.h>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Larger files are not skins; refusing them keeps a wrong path from filling memory.
constexpr int64_t kMaxPackageBytes = 64 * 1024 * 1024;

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Numbers and booleans as a 32-bit integer (clamped); anything else is 0.
int32_t SkinInt(const Json::Value& value) {
    if (value.isNumeric() || value.isBool()) {
        return ClampToInt32(JsonAsInt64(value));
    }
    return 0;
}

// The elements of an array of exactly count entries, else zeros.
template <size_t count> std::array<int32_t, count> SkinInts(const Json::Value* node) {
    std::array<int32_t, count> out{};
    if (node && node->isArray() && node->size() == count) {
        for (Json::ArrayIndex i = 0; i < count; ++i) {
            out[i] = SkinInt((*node)[i]);
        }
    }
    return out;
}

SkinColor SkinColorOf(const Json::Value* node) {
    if (!node || !node->isArray() || node->size() != 3) {
        return 0;
    }
    auto rgb = SkinInts<3>(node);
    return SkinRgb(std::clamp(rgb[0], 0, 255), std::clamp(rgb[1], 0, 255),
                   std::clamp(rgb[2], 0, 255));
}

const Json::Value* Child(const Json::Value& node, const char* name) {
    const Json::Value& child = JsonMember(node, name);
    return child.isNull() ? nullptr : &child;
}

// A source rectangle cut to the picture; all zero when nothing of it is inside.
void ClipToBitmap(const CHBitmap& bitmap, int32_t& x, int32_t& y, int32_t& w, int32_t& h) {
    int64_t left = std::max<int64_t>(x, 0);
    int64_t top = std::max<int64_t>(y, 0);
    int64_t right = std::min<int64_t>(int64_t(x) + w, bitmap.Width());
    int64_t bottom = std::min<int64_t>(int64_t(y) + h, bitmap.Height());
    if (right <= left || bottom <= top) {
        x = y = w = h = 0;
        return;
    }
    x = int32_t(left);
    y = int32_t(top);
    w = int32_t(right - left);
    h = int32_t(bottom - top);
}

// A blob id read from "res": integers, booleans, truncated reals and decimal texts; -1 when it
// is outside 0 .. INT32_MAX.
int BlobIdOf(const Json::Value& entry) {
    int64_t id = JsonAsInt64(JsonMember(entry, "id"));
    if (id < 0 || id > std::numeric_limits<int32_t>::max()) {
        return -1;
    }
    return int(id);
}

// The first max characters of a UTF-8 text (the text is valid UTF-8).
std::string FirstChars(const std::string& text, size_t max) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (chars == max) {
                return text.substr(0, i);
            }
            ++chars;
        }
    }
    return text;
}

std::string WithoutControls(std::string text) {
    text.erase(
        std::remove_if(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
        text.end());
    return text;
}

// The LOGFONT fields a font record may set, starting from the system's icon-title font.
struct FontRecord {
    int64_t height = -12;
    int64_t weight = 400;
    int64_t italic = 0;
    std::string face = kSkinDefaultFace;
};

PangoFontDescription* DescribeFont(const FontRecord& record) {
    PangoFontDescription* font = pango_font_description_new();
    // A negative height is the character (em) height, a positive one the cell height, which
    // includes the internal leading (about a fifth for these faces).
    int64_t height = std::clamp<int64_t>(record.height, -1'000'000, 1'000'000);
    int64_t pixels = height < 0 ? -height : height * 4 / 5;
    pixels = std::clamp<int64_t>(pixels, UIResource::kMinFontPixels, UIResource::kMaxFontPixels);
    std::string families = record.face;
    if (families != kSkinDefaultFace) {
        families += std::string(",") + kSkinDefaultFace;
    }
    pango_font_description_set_family(font, families.c_str());
    pango_font_description_set_absolute_size(font, double(pixels) * PANGO_SCALE);
    pango_font_description_set_weight(
        font, static_cast<PangoWeight>(std::clamp<int64_t>(record.weight, 100, 1000)));
    pango_font_description_set_style(font, record.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    return font;
}

bool CopyBitmap(const CHBitmap& source, CHBitmap& out) {
    if (source.IsEmpty() || !out.Create(source.Width(), source.Height(), source.BitsPerPixel())) {
        return false;
    }
    std::memcpy(out.Bits(), source.Bits(), source.Stride() * size_t(source.Height()));
    return true;
}

} // namespace

void UIResource::FontDeleter::operator()(PangoFontDescription* font) const {
    pango_font_description_free(font);
}

UIResource::UIResource() = default;
UIResource::~UIResource() = default;

void UIResource::Clear() {
    m_document = Json::Value();
    m_loaded = false;
    m_sections.clear();
    m_hiDpiFor.clear();
    m_images.clear();
    m_fonts.clear();
    m_tintedColors.clear();
    m_decodes = 0;
}

bool UIResource::LoadFromModule(void* /*module*/, std::string_view type, int id) {
    std::string bytes;
    if (!LoadResourceBytes(type, id, bytes)) {
        Clear();
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size());
}

bool UIResource::LoadFromFile(const std::filesystem::path& path) {
    std::string bytes;
    int64_t size = FileSize64(path);
    if (size < 0 || size > kMaxPackageBytes || !ReadWholeFile(path, bytes)) {
        Clear();
        return false;
    }
    return LoadFromMemory(bytes.data(), bytes.size());
}

bool UIResource::LoadFromMemory(const void* bytes, size_t length) {
    Clear();
    if (!bytes && length) {
        return false;
    }
    SkinPackageContents contents;
    Json::Value document;
    if (!ParseSkinPackage(std::string_view(static_cast<const char*>(bytes), length), contents) ||
        !JsonParse(contents.json, document) || !document.isObject()) {
        return false;
    }
    m_document = std::move(document);
    IndexSections(contents.blobs);
    m_loaded = true;
    return true;
}

// Keeps the blobs that a "res" section names, under (section, id).
void UIResource::IndexSections(const std::map<int32_t, std::string_view>& blobs) {
    const Json::Value& res = JsonMember(m_document, "res");
    if (!res.isObject()) {
        return;
    }
    for (const std::string& section : res.getMemberNames()) {
        const Json::Value& entries = res[section];
        if (!entries.isArray()) {
            continue;
        }
        for (const Json::Value& entry : entries) {
            int id = BlobIdOf(entry);
            auto blob = blobs.find(id);
            if (id < 0 || blob == blobs.end()) {
                continue;
            }
            m_sections[section][id] = std::string(blob->second);
            int64_t target = JsonAsInt64(JsonMember(entry, "for"));
            if (section == kSkinHiDpiSection && target > 0 &&
                target <= std::numeric_limits<int32_t>::max()) {
                m_hiDpiFor[int(target)] = id;
            }
        }
    }
}

std::map<std::string, std::vector<int>> UIResource::ListBlobs() const {
    std::map<std::string, std::vector<int>> out;
    for (const auto& [section, blobs] : m_sections) {
        for (const auto& entry : blobs) {
            out[section].push_back(entry.first);
        }
    }
    return out;
}

const Json::Value* UIResource::FindNode(std::string_view path, const Json::Value* start) {
    const Json::Value* node = start ? start : Child(m_document, "cfg");
    std::string name;
    while (node && !path.empty()) {
        size_t slash = path.find('/');
        name.assign(path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (!name.empty()) {
            node = Child(*node, name.c_str());
        }
    }
    return node;
}

int32_t UIResource::GetInt(std::string_view path, const Json::Value* start) {
    const Json::Value* node = FindNode(path, start);
    return node ? SkinInt(*node) : 0;
}

SkinQuad UIResource::GetRect(std::string_view path, const Json::Value* start) {
    return SkinInts<4>(FindNode(path, start));
}

SkinPair UIResource::GetPair(std::string_view path, const Json::Value* start) {
    return SkinInts<2>(FindNode(path, start));
}

SkinColor UIResource::GetColor(std::string_view path, const Json::Value* start) {
    return SkinColorOf(FindNode(path, start));
}

void UIResource::ReadBackground(const Json::Value& node, SkinImageStyle& style) {
    CHBitmap* bitmap = GetImage(SkinInt(JsonMember(node, "bi")), true);
    if (!bitmap) {
        return;
    }
    style.bgBitmap = bitmap;
    auto bg = SkinInts<4>(Child(node, "bg"));
    style.bgX = bg[0], style.bgY = bg[1], style.bgW = bg[2], style.bgH = bg[3];
    ClipToBitmap(*bitmap, style.bgX, style.bgY, style.bgW, style.bgH);
    if (const Json::Value* key = Child(node, "bc")) {
        style.bgKey = SkinColorOf(key);
    }
    auto mg = SkinInts<4>(Child(node, "mg"));
    style.marginLeft = mg[0], style.marginTop = mg[1], style.marginRight = mg[2],
    style.marginBottom = mg[3];
    style.drawMode = SkinInt(JsonMember(node, "md"));
}

void UIResource::ReadForeground(const Json::Value& node, SkinImageStyle& style) {
    CHBitmap* bitmap = GetImage(SkinInt(JsonMember(node, "fi")), true);
    if (!bitmap) {
        return;
    }
    style.fgBitmap = bitmap;
    auto fg = SkinInts<4>(Child(node, "fg"));
    style.fgX = fg[0], style.fgY = fg[1], style.fgW = fg[2], style.fgH = fg[3];
    ClipToBitmap(*bitmap, style.fgX, style.fgY, style.fgW, style.fgH);
    if (const Json::Value* key = Child(node, "fc")) {
        style.fgKey = SkinColorOf(key);
    }
    auto of = SkinInts<2>(Child(node, "of"));
    style.offsetX = of[0], style.offsetY = of[1];
    style.align = SkinInt(JsonMember(node, "al"));
}

SkinImageStyle UIResource::GetImageStyle(std::string_view path, const Json::Value* start) {
    SkinImageStyle style;
    const Json::Value* node = FindNode(path, start);
    if (!node || !node->isObject()) {
        return style;
    }
    if (Child(*node, "bi")) {
        ReadBackground(*node, style);
    }
    if (Child(*node, "fi")) {
        ReadForeground(*node, style);
    }
    return style;
}

SkinTextStyle UIResource::GetTextStyle(std::string_view path, const Json::Value* start) {
    SkinTextStyle style;
    const Json::Value* node = FindNode(path, start);
    if (!node || !node->isObject()) {
        return style;
    }
    style.font = GetFont(SkinInt(JsonMember(*node, "ft")));
    style.color = static_cast<SkinColor>(SkinInt(JsonMember(*node, "cr")));
    auto of = SkinInts<2>(Child(*node, "of"));
    style.offsetX = of[0], style.offsetY = of[1];
    style.align = static_cast<uint32_t>(SkinInt(JsonMember(*node, "al")));
    const Json::Value& text = JsonMember(*node, "tx");
    if (text.isString()) {
        style.text = MakeValidUtf8(Base64Decode(text.asString()));
    }
    return style;
}

UIResource::FontPtr UIResource::MakeFont(const std::string& blob) {
    FontRecord record;
    Json::Value fields;
    if (JsonParse(blob, fields) && fields.isObject()) {
        auto take = [&](const char* name, int64_t& field) {
            int64_t value = JsonAsInt64(JsonMember(fields, name));
            if (value != 0) {
                field = value;
            }
        };
        take("Height", record.height);
        take("Weight", record.weight);
        take("Italic", record.italic);
        const Json::Value& face = JsonMember(fields, "FaceName");
        std::string name = face.isString() ? Base64Decode(face.asString()) : std::string();
        name = FirstChars(WithoutControls(MakeValidUtf8(name)), kMaxFaceNameChars);
        if (!name.empty()) {
            record.face = name;
        }
    }
    return FontPtr(DescribeFont(record));
}

const PangoFontDescription* UIResource::GetFont(int id) {
    auto it = m_fonts.find(id);
    if (it == m_fonts.end()) {
        std::string blob;
        FontPtr font;
        if (GetBlob(kSkinFontsSection, id, blob)) {
            font = MakeFont(blob);
        }
        it = m_fonts.emplace(id, std::move(font)).first;
    }
    return it->second.get();
}

const PangoFontDescription* UIResource::GetDefaultFont() {
    if (!m_defaultFont) {
        m_defaultFont.reset(DescribeFont(FontRecord{}));
    }
    return m_defaultFont.get();
}

const PangoFontDescription* UIResource::GetDefaultBoldFont() {
    if (!m_defaultBoldFont) {
        FontRecord bold;
        bold.weight = 700;
        m_defaultBoldFont.reset(DescribeFont(bold));
    }
    return m_defaultBoldFont.get();
}

CHBitmap* UIResource::GetImage(int id, bool tintable) {
    auto it = m_images.find(id);
    if (it == m_images.end()) {
        CachedImage image;
        std::string bytes;
        auto bitmap = std::make_unique<UISkinBitmap>();
        // A picture that does not decode is remembered as missing, not tried again at every
        // paint.
        bool found = GetBlob(kSkinImagesSection, id, bytes);
        m_decodes += found ? 1 : 0;
        if (found && bitmap->LoadFromMemory(bytes.data(), bytes.size())) {
            auto twin = m_hiDpiFor.find(id);
            std::string twinBytes;
            if (twin != m_hiDpiFor.end() && GetBlob(kSkinHiDpiSection, twin->second, twinBytes)) {
                bitmap->SetHiDpiBytes(std::move(twinBytes));
            }
            image.bitmap = std::move(bitmap);
        } else if (!found) {
            return nullptr; // nothing under that id: not worth remembering
        }
        it = m_images.emplace(id, std::move(image)).first;
    }
    CachedImage& image = it->second;
    if (image.bitmap && tintable && !image.tintable) {
        image.tintable = true;
        TintImage(image);
    }
    return image.bitmap.get();
}

bool UIResource::GetBlob(std::string_view section, int id, std::string& out) {
    out.clear();
    auto found = m_sections.find(section);
    if (found == m_sections.end()) {
        return false;
    }
    auto blob = found->second.find(id);
    if (blob == found->second.end()) {
        return false;
    }
    out = blob->second;
    return !out.empty();
}

void UIResource::TintImage(CachedImage& image) {
    if (!image.bitmap || !image.tintable) {
        return;
    }
    bool tinted = m_hue || m_saturation || m_lightness;
    if (!image.untinted) {
        if (!tinted) {
            return; // nothing to undo later
        }
        image.untinted = std::make_unique<CHBitmap>();
        if (!CopyBitmap(*image.bitmap, *image.untinted)) {
            image.untinted.reset();
            return;
        }
    } else {
        std::memcpy(image.bitmap->Bits(), image.untinted->Bits(),
                    image.untinted->Stride() * size_t(image.untinted->Height()));
    }
    if (tinted) {
        image.bitmap->Colourise(m_hue, m_saturation, m_lightness);
    }
    image.bitmap->ForgetDerived(m_hue, m_saturation, m_lightness);
}

void UIResource::SetTint(int hue, int saturation, int lightness) {
    m_hue = std::clamp(hue, -180, 180);
    m_saturation = std::clamp(saturation, -100, 100);
    m_lightness = std::clamp(lightness, -100, 100);
    m_tintedColors.clear();
    for (auto& entry : m_images) {
        TintImage(entry.second);
    }
    if (m_repaint) {
        m_repaint();
    }
}

SkinColor UIResource::TintColor(SkinColor color) {
    if (!m_hue && !m_saturation && !m_lightness) {
        return color;
    }
    auto it = m_tintedColors.find(color);
    if (it != m_tintedColors.end()) {
        return it->second;
    }
    CHBitmap pixel;
    SkinColor tinted = color;
    if (pixel.Create(1, 1, 24)) {
        pixel.Bits()[0] =
            0xFF000000 | ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
        pixel.Colourise(m_hue, m_saturation, m_lightness);
        uint32_t p = pixel.Bits()[0];
        tinted = SkinRgb(int((p >> 16) & 0xFF), int((p >> 8) & 0xFF), int(p & 0xFF));
    }
    m_tintedColors[color] = tinted;
    return tinted;
}
