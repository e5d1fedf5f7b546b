// vellumo-cli skin-dump PACKAGE: lists what a skin package holds: its blobs (pictures with their
// sizes, font records) and every node of its description with what it paints.

#include "media/CHBitmap.h"
#include "media/JsonText.h"
#include "platform/FileSystem.h"
#include "tools/cli/CliCommand.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinPackage.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

// An array on one line, without the compact writer's final line feed.
std::string Quad(const Json::Value& value) {
    if (!value.isArray()) {
        return "-";
    }
    std::string text = JsonCompact(value);
    text.pop_back();
    return text;
}

// One line for a node that paints: an image style or a text style.
std::string Describe(const Json::Value& node) {
    std::string out;
    if (node.isMember("bi")) {
        out += "image " + JsonAsText(node["bi"]) + " " + Quad(JsonMember(node, "bg"));
        if (node.isMember("mg")) {
            out += " margins " + Quad(node["mg"]);
        }
        if (node.isMember("bc")) {
            out += " key " + Quad(node["bc"]);
        }
    }
    if (node.isMember("fi")) {
        out += std::string(out.empty() ? "" : "; ") + "foreground " + JsonAsText(node["fi"]) + " " +
               Quad(JsonMember(node, "fg")) + " align " + JsonAsText(JsonMember(node, "al"));
    }
    if (node.isMember("ft") || node.isMember("cr")) {
        char colour[16];
        std::snprintf(
            colour, sizeof colour, "0x%06llX",
            static_cast<unsigned long long>(JsonAsInt64(JsonMember(node, "cr")) & 0xFFFFFF));
        out += std::string(out.empty() ? "" : "; ") + "text font " +
               JsonAsText(JsonMember(node, "ft")) + " colour " + colour + " format " +
               JsonAsText(JsonMember(node, "al"));
    }
    return out;
}

void DumpTree(const Json::Value& node, const std::string& path) {
    if (!node.isObject()) {
        std::printf("  %-48s %s", path.c_str(), JsonCompact(node).c_str());
        return;
    }
    if (node.empty()) {
        std::printf("  %-48s (draws nothing)\n", path.c_str());
        return;
    }
    std::string line = Describe(node);
    if (!line.empty()) {
        std::printf("  %-48s %s\n", path.c_str(), line.c_str());
        return;
    }
    for (const std::string& name : node.getMemberNames()) {
        DumpTree(node[name], path.empty() ? name : path + "/" + name);
    }
}

void DumpBlobs(UIResource& resource) {
    for (const auto& [section, ids] : resource.ListBlobs()) {
        for (int id : ids) {
            std::string bytes;
            resource.GetBlob(section, id, bytes);
            std::printf("  %-8s %6d %8zu bytes", section.c_str(), id, bytes.size());
            CHBitmap picture;
            if (section != kSkinFontsSection &&
                picture.LoadFromMemory(bytes.data(), bytes.size())) {
                std::printf("  picture %d x %d, %d bits", picture.Width(), picture.Height(),
                            picture.BitsPerPixel());
            } else if (section == kSkinFontsSection) {
                std::string text = bytes.substr(0, 100);
                while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
                    text.pop_back();
                }
                std::printf("  %s", text.c_str());
            }
            std::printf("\n");
        }
    }
}

int RunSkinDump(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: vellumo-cli skin-dump PACKAGE\n");
        return 2;
    }
    std::string bytes;
    if (!ReadWholeFile(args[0], bytes)) {
        std::fprintf(stderr, "vellumo-cli skin-dump: cannot read %s\n", args[0].c_str());
        return 1;
    }
    SkinPackageContents contents;
    UIResource resource;
    if (!ParseSkinPackage(bytes, contents) ||
        !resource.LoadFromMemory(bytes.data(), bytes.size())) {
        std::fprintf(stderr, "vellumo-cli skin-dump: %s is not a sound skin package\n",
                     args[0].c_str());
        return 1;
    }
    std::printf("package %s: %zu bytes, description %zu bytes, %zu blobs\n", args[0].c_str(),
                bytes.size(), contents.json.size(), contents.blobs.size());
    std::printf("blobs:\n");
    DumpBlobs(resource);
    std::printf("nodes:\n");
    DumpTree(JsonMember(resource.Document(), "cfg"), "");
    return 0;
}

const CliRegistration kSkinDump{
    "skin-dump", "skin-dump PACKAGE   list a skin package's pictures, fonts and nodes",
    &RunSkinDump};

} // namespace
