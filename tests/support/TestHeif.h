#pragma once
// HEIF files for tests: real HEIC and AVIF files made from JPEGs with heif-enc and tagged with
// exiftool, the file's own rotation and mirroring added box by box, and small hand-built
// containers (no coded image inside) whose every byte a test can choose.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Runs a program found on PATH with its output discarded; true when it exited with 0.
bool RunTool(const std::vector<std::string>& args);
// heif-enc and exiftool are both installed.
bool HaveHeifTools();
// heif-enc: HEIC (or AVIF) from a JPEG, with an embedded thumbnail of at most thumbnail pixels
// on its long side when thumbnail > 0. The JPEG's EXIF block is carried over.
bool HeifEncode(const fs::path& jpeg, const fs::path& out, int thumbnail = 0, bool avif = false,
                int quality = 90);
// exiftool: sets the EXIF orientation (1..8) of every file in place.
bool SetExifOrientation(const std::vector<fs::path>& files, int orientation);

// The file with the rotation and mirroring that an EXIF orientation (1..8) stands for written
// as the container's own irot and imir properties of every coded image (primary and
// thumbnails); data offsets are moved to match. "" when the layout is not one this handles.
std::string WithHeifOrientation(const std::string& heif, int orientation);
// Where the data of an item lies (construction method 0); false when not found.
bool HeifItemData(const std::string& heif, uint32_t id, uint64_t& offset, uint64_t& length);
// The primary item's id (pitm); 0 when not found.
uint32_t HeifPrimaryId(const std::string& heif);

// A HEIF container laid out by hand: ftyp, meta (hdlr, pitm, iinf, iloc, iref, iprp, idat),
// mdat. Items are stored in the order given.
struct HeifBuilder {
    struct Item {
        uint32_t id = 0;
        std::string type = "hvc1";
        std::string data; // in mdat, or in the meta box's idat when inIdat
        bool inIdat = false;
        uint32_t width = 0; // an ispe property when width > 0
        uint32_t height = 0;
    };
    struct Reference {
        std::string type; // "thmb", "cdsc", "dimg"
        uint32_t from = 0;
        std::vector<uint32_t> to;
    };

    std::string majorBrand = "heic";
    std::vector<std::string> compatibleBrands{"mif1", "heic"};
    std::string handler = "pict";
    uint32_t primary = 1;
    std::vector<Item> items;
    std::vector<Reference> references;
    bool locationsFirst = false; // iloc before iinf, as some writers order them

    // A primary image of the given size and, when tiff is not empty, an Exif item holding it
    // (with the 4-byte header offset field) described as belonging to the primary.
    static HeifBuilder Photo(uint32_t width, uint32_t height, const std::string& tiff = "");
    std::string Build() const;
};

// Box helpers for building and patching containers.
std::string HeifBox(const std::string& type, const std::string& payload);
std::string HeifFullBox(const std::string& type, int version, uint32_t flags,
                        const std::string& payload);
std::string BigEndian16(uint32_t value);
std::string BigEndian32(uint32_t value);
