// skingen: draws the program's skin and packs it.
//   skingen --package OUT.uir [--embed OUT.cpp] [--icons DIR] [--sheets DIR]
// --embed writes a C++ source that registers the package and the program icons as built-in
// resources; --icons writes the program icons as PNGs in a hicolor theme layout
// (DIR/hicolor/NxN/apps/vellumo.png, tray icons as DIR/tray/vellumo-tray-N.png); --sheets
// writes the picture sheets for a person to look at. The output depends only on this program
// and the installed fonts.

#include "media/Base64.h"
#include "media/JsonText.h"
#include "platform/FileSystem.h"
#include "tools/skingen/SkinDocument.h"
#include "tools/skingen/SkinSheet.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinPackage.h"
#include "ui/framework/UISkinPaths.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace skingen;

namespace {

constexpr int kControlsId = 1000;
constexpr int kPicturesId = 1012;
constexpr int kHiDpiOffset = 1000; // the 2x twin of picture N is blob N + 1000

struct Options {
    fs::path package, embed, icons, sheets;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        fs::path value = argv[i + 1];
        if (name == "--package") {
            options.package = value;
        } else if (name == "--embed") {
            options.embed = value;
        } else if (name == "--icons") {
            options.icons = value;
        } else if (name == "--sheets") {
            options.sheets = value;
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.package.empty();
}

// A font record: LOGFONT fields of the system's interface font with the given height and weight.
std::string FontRecord(int height, int weight) {
    Json::Value font(Json::objectValue);
    font["Height"] = height;
    font["Weight"] = weight;
    font["CharSet"] = 134;
    font["OutPrecision"] = 3;
    font["ClipPrecision"] = 2;
    font["Quality"] = 1;
    font["PitchAndFamily"] = 34;
    font["FaceName"] = Base64Encode(kSkinDefaultFace);
    return JsonCompact(font);
}

std::string RenderSpritePng(const Sprite& sprite, int scale) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, sprite.width * scale,
                                                          sprite.height * scale);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    sprite.paint(cr);
    cairo_destroy(cr);
    std::string png;
    cairo_surface_write_to_png_stream(
        surface,
        [](void* closure, const unsigned char* data, unsigned int length) {
            static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
            return CAIRO_STATUS_SUCCESS;
        },
        &png);
    cairo_surface_destroy(surface);
    return png;
}

Json::Value Entry(int id, const char* name) {
    Json::Value entry(Json::objectValue);
    entry["id"] = id;
    entry["name"] = name;
    return entry;
}

struct Package {
    std::string bytes;
    std::string controlsPng, picturesPng;
};

bool BuildPackage(Package& out) {
    SkinSheet controls(ControlSprites(), 512);
    SkinSheet pictures(PictureSprites(), 1024);
    if (!controls.Duplicate().empty() || !pictures.Duplicate().empty()) {
        std::fprintf(stderr, "skingen: two pictures named %s%s\n", controls.Duplicate().c_str(),
                     pictures.Duplicate().c_str());
        return false;
    }
    std::string missing;
    Json::Value document(Json::objectValue);
    document["cfg"] = BuildSkinConfig({&controls, kControlsId}, {&pictures, kPicturesId}, missing);
    if (!missing.empty()) {
        std::fprintf(stderr, "skingen: no picture named %s\n", missing.c_str());
        return false;
    }
    Sprite step = StepPicture();
    std::vector<std::pair<uint32_t, std::string>> blobs;
    out.controlsPng = controls.RenderPng(1);
    out.picturesPng = pictures.RenderPng(1);
    const std::pair<int, std::string> images[] = {
        {kControlsId, out.controlsPng},
        {SkinPaths::kStepPictureId, RenderSpritePng(step, 1)},
        {kPicturesId, out.picturesPng}};
    const std::pair<int, std::string> twins[] = {
        {kControlsId + kHiDpiOffset, controls.RenderPng(2)},
        {SkinPaths::kStepPictureId + kHiDpiOffset, RenderSpritePng(step, 2)},
        {kPicturesId + kHiDpiOffset, pictures.RenderPng(2)}};
    const std::pair<int, std::string> fonts[] = {{SkinPaths::kFontDefault, "null\n"},
                                                 {SkinPaths::kFontBold16, FontRecord(-16, 700)},
                                                 {SkinPaths::kFontRegular14, FontRecord(-14, 400)},
                                                 {SkinPaths::kFontHeading22, FontRecord(-22, 700)},
                                                 {SkinPaths::kFontSmall13, FontRecord(-13, 400)},
                                                 {SkinPaths::kFontBold14, FontRecord(-14, 700)}};
    Json::Value& res = document["res"];
    const char* imageNames[] = {"controls.png", "step.png", "pictures.png"};
    for (size_t i = 0; i < 3; ++i) {
        if (images[i].second.empty() || twins[i].second.empty()) {
            std::fprintf(stderr, "skingen: could not encode %s\n", imageNames[i]);
            return false;
        }
        res[kSkinImagesSection].append(Entry(images[i].first, imageNames[i]));
        Json::Value twin = Entry(twins[i].first, imageNames[i]);
        twin["for"] = images[i].first;
        res[kSkinHiDpiSection].append(twin);
        blobs.emplace_back(images[i].first, images[i].second);
        blobs.emplace_back(twins[i].first, twins[i].second);
    }
    for (const auto& [id, record] : fonts) {
        res[kSkinFontsSection].append(Entry(id, "Default"));
        blobs.emplace_back(id, record);
    }
    std::sort(blobs.begin(), blobs.end());
    std::string json = JsonStyled(document);
    json.push_back('\0');
    out.bytes = BuildSkinPackage(json, blobs);
    return true;
}

void AppendLiteral(std::string& out, const std::string& bytes) {
    static const char kDigits[] = "01234567";
    out += "    \"";
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        out += '\\';
        out += kDigits[(c >> 6) & 7];
        out += kDigits[(c >> 3) & 7];
        out += kDigits[c & 7];
        if (i % 40 == 39 && i + 1 < bytes.size()) {
            out += "\"\n    \"";
        }
    }
    out += "\"";
}

struct Icon {
    const char* type;
    int size;
    std::string png;
};

std::vector<Icon> MakeIcons() {
    std::vector<Icon> icons;
    for (int size : SkinPaths::kIconSizes) {
        icons.push_back(
            {SkinPaths::kIconResourceType, size, RenderSquarePng(size, PaintProgramIcon)});
    }
    for (int size : SkinPaths::kTrayIconSizes) {
        icons.push_back(
            {SkinPaths::kTrayIconResourceType, size, RenderSquarePng(size, PaintTrayIcon)});
    }
    return icons;
}

bool WriteEmbed(const fs::path& path, const std::string& package, const std::vector<Icon>& icons) {
    std::string out = "// Generated by skingen: the built-in skin package and program icons.\n"
                      "#include \"resources/BuiltInResources.h\"\n\n"
                      "#include \"platform/Resources.h\"\n\n"
                      "namespace {\n\n";
    out += "const char kSkin[] =\n";
    AppendLiteral(out, package);
    out += ";\n\n";
    for (size_t i = 0; i < icons.size(); ++i) {
        out += "const char kIcon" + std::to_string(i) + "[] =\n";
        AppendLiteral(out, icons[i].png);
        out += ";\n\n";
    }
    out += "} // namespace\n\nvoid RegisterBuiltInResources() {\n";
    out += "    RegisterResource(\"UIR\", 131, std::string_view(kSkin, sizeof kSkin - 1));\n";
    for (size_t i = 0; i < icons.size(); ++i) {
        std::string name = "kIcon" + std::to_string(i);
        out += "    RegisterResource(\"" + std::string(icons[i].type) + "\", " +
               std::to_string(icons[i].size) + ", std::string_view(" + name + ", sizeof " + name +
               " - 1));\n";
    }
    out += "}\n";
    return WriteWholeFile(path, out);
}

bool WriteIcons(const fs::path& dir, const std::vector<Icon>& icons) {
    std::error_code error;
    for (const Icon& icon : icons) {
        bool tray = std::string(icon.type) == SkinPaths::kTrayIconResourceType;
        std::string size = std::to_string(icon.size);
        fs::path file = tray ? dir / "tray" / ("vellumo-tray-" + size + ".png")
                             : dir / "hicolor" / (size + "x" + size) / "apps" / "vellumo.png";
        fs::create_directories(file.parent_path(), error);
        if (error || !WriteWholeFile(file, icon.png)) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: skingen --package OUT.uir [--embed OUT.cpp] [--icons DIR] "
                             "[--sheets DIR]\n");
        return 2;
    }
    Package package;
    if (!BuildPackage(package)) {
        return 1;
    }
    std::vector<Icon> icons = MakeIcons();
    bool ok = WriteWholeFile(options.package, package.bytes);
    if (ok && !options.embed.empty()) {
        ok = WriteEmbed(options.embed, package.bytes, icons);
    }
    if (ok && !options.icons.empty()) {
        ok = WriteIcons(options.icons, icons);
    }
    if (ok && !options.sheets.empty()) {
        std::error_code error;
        fs::create_directories(options.sheets, error);
        ok = WriteWholeFile(options.sheets / "controls.png", package.controlsPng) &&
             WriteWholeFile(options.sheets / "pictures.png", package.picturesPng);
    }
    if (!ok) {
        std::fprintf(stderr, "skingen: could not write the output\n");
        return 1;
    }
    return 0;
}
