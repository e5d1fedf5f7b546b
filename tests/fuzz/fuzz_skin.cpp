// The skin package reader and every lookup over whatever it loaded. The first byte picks the
// form of the rest: a whole package, or a description packed with a small real picture and
// font record so that styles resolve to drawable records.

#include "media/CHBitmap.h"
#include "media/CHPngEncoder.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinDraw.h"
#include "ui/framework/UISkinPackage.h"
#include "ui/framework/UISkinPaths.h"

#include <cairo.h>
#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

std::string SmallPicture(int bits) {
    CHBitmap bitmap;
    bitmap.Create(12, 10, bits);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 12; ++x) {
            bitmap.Row(y)[x] = (x + y) % 3 ? 0xFFFF00FF : 0xFF2060A0;
        }
    }
    std::string png;
    CHPngEncoder::Encode(bitmap, png);
    return png;
}

void Exercise(UIResource& resource, cairo_t* cr, const Json::Value& node, const std::string& path,
              int depth) {
    if (depth > 12) {
        return;
    }
    resource.GetInt(path, nullptr);
    resource.GetRect(path, nullptr);
    resource.GetPair(path, nullptr);
    resource.GetColor(path, nullptr);
    SkinImageStyle style = resource.GetImageStyle(path, nullptr);
    DrawImageStyle(cr, {3, 2, 40, 30}, style);
    DrawImageStyle(cr, {0, 0, 2, 1}, style);
    DrawImageStyleAt(cr, -5, 4, style);
    resource.GetTextStyle(path, nullptr);
    if (node.isObject()) {
        for (const std::string& name : node.getMemberNames()) {
            Exercise(resource, cr, node[name], path + "/" + name, depth + 1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static const std::string picture24 = SmallPicture(24);
    static const std::string picture32 = SmallPicture(32);
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::string package =
        data[0] & 1
            ? BuildSkinPackage(rest, {{1000, picture24},
                                      {1001, picture32},
                                      {1002, "not a picture"},
                                      {1006, "null\n"},
                                      {1007, R"({"Height":-16,"Weight":700,"FaceName":"QUJD"})"}})
            : rest;
    UIResource resource;
    if (!resource.LoadFromMemory(package.data(), package.size())) {
        return 0;
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 48, 40);
    cairo_t* cr = cairo_create(surface);
    if (data[0] & 2) {
        cairo_scale(cr, 2, 2); // the double-resolution path
    }
    for (const SkinNodeUse& use : SkinPaths::kUsed) {
        resource.GetImageStyle(use.path, nullptr);
    }
    Exercise(resource, cr, resource.Document(), "", 0);
    for (const auto& [section, ids] : resource.ListBlobs()) {
        for (int id : ids) {
            resource.GetFont(id);
            resource.GetImage(id, true);
        }
    }
    if (data[0] & 4) {
        resource.SetTint(40, -20, 10);
        resource.TintColor(0x3A6BED);
        Exercise(resource, cr, resource.Document(), "", 0);
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return 0;
}
