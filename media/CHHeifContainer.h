#pragma once
// The box structure of a HEIF or AVIF file, read with bounds-checked reads and without decoding
// anything: which brand the file claims, its items (iinf), where their bytes are (iloc), how
// they refer to each other (iref) and the image properties that matter here (ispe, irot, imir).
// Sizes past the end of the bytes, items without a place, references that loop and tables that
// would cost more than their bytes are refused.

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

class CHHeifContainer {
public:
    enum class Status {
        Ok,
        NotHeif,       // no ftyp box with a HEIF or AVIF brand first
        Corrupt,       // a structure the file cannot hold
        NeedMoreBytes, // only the start of a file was given and what is needed lies after it
    };

    struct Extent {
        uint64_t offset = 0; // from the start of the file (idat items: already resolved)
        uint64_t length = 0;
    };

    struct Item {
        uint32_t id = 0;
        uint32_t type = 0; // four-character code, e.g. 'hvc1', 'av01', 'grid', 'Exif'
        bool located = false;
        std::vector<Extent> extents;
        uint32_t width = 0; // ispe; 0 when the item has none
        uint32_t height = 0;
        int quarterTurns = 0; // irot: anticlockwise quarter turns, 0..3
        // imir: 0 exchanges top and bottom, 1 left and right (as phones write it); -1 none.
        int mirrorAxis = -1;
    };

    static constexpr uint32_t FourCc(const char (&text)[5]) {
        return uint32_t(uint8_t(text[0])) << 24 | uint32_t(uint8_t(text[1])) << 16 |
               uint32_t(uint8_t(text[2])) << 8 | uint32_t(uint8_t(text[3]));
    }

    // True when the bytes start with an ftyp box whose major or compatible brands include one of
    // heic, heix, hevc, mif1, msf1, avif.
    static bool HasHeifBrand(std::string_view bytes);

    // Reads the boxes of bytes. complete: bytes is the whole file, so anything said to lie past
    // its end is corrupt; otherwise bytes is the start of a file and such things ask for more.
    Status Parse(std::string_view bytes, bool complete);

    // The primary item (after a successful Parse it exists and has a size).
    const Item& Primary() const { return m_items[m_primary]; }
    const Item* FindItem(uint32_t id) const;
    // Thumbnail items of the primary image.
    std::vector<const Item*> Thumbnails() const;
    // The TIFF structure inside the Exif item of the primary image, as a view into bytes. Ok
    // with an empty view when the file has none or it cannot be used.
    Status ExifTiff(std::string_view bytes, bool complete, std::string_view& tiff) const;
    // Offset just past the meta box: how much of a file Parse needs.
    uint64_t MetaEnd() const { return m_metaEnd; }
    // The largest extent end of every located item: a file shorter than that lost data.
    uint64_t DataEnd() const;

private:
    struct Reference {
        uint32_t type = 0;
        uint32_t from = 0;
        std::vector<uint32_t> to;
    };

    Status ParseMeta(std::string_view meta, uint64_t metaOffset);
    bool ParseHandler(std::string_view box);
    bool ParsePrimary(std::string_view box);
    bool ParseItemInfo(std::string_view box);
    bool ParseLocations(std::string_view box);
    bool ParseReferences(std::string_view box);
    bool ParseProperties(std::string_view box);
    bool ParseAssociations(std::string_view box, const std::vector<std::string_view>& properties);
    bool ApplyLocations();
    // False when the images the primary is derived from (grid tiles, overlays) refer back to
    // themselves or nest deeper than any writer makes them.
    bool DerivationsEndWithoutLoop() const;
    Item* MutableItem(uint32_t id);

    std::vector<Item> m_items;
    std::unordered_map<uint32_t, size_t> m_index; // item id -> position in m_items
    std::vector<Reference> m_references;
    size_t m_primary = 0;
    uint32_t m_primaryId = 0;
    bool m_hasPrimary = false;
    bool m_isPicture = false;
    uint64_t m_metaEnd = 0;
    // iloc entries until every item is known. Those in the meta box's idat (construction
    // method 1) have offsets within it.
    struct Location {
        uint32_t id = 0;
        bool inIdat = false;
        std::vector<Extent> extents;
    };
    std::vector<Location> m_locations;
    uint64_t m_idatOffset = 0;
    uint64_t m_idatLength = 0;
    bool m_hasIdat = false;
};
