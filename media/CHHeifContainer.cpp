#include "media/CHHeifContainer.h"

#include "media/CHByteReader.h"

#include <algorithm>
#include <unordered_map>

namespace {

using Status = CHHeifContainer::Status;

constexpr uint32_t kFtyp = CHHeifContainer::FourCc("ftyp");
constexpr uint32_t kMeta = CHHeifContainer::FourCc("meta");
constexpr uint32_t kHdlr = CHHeifContainer::FourCc("hdlr");
constexpr uint32_t kPict = CHHeifContainer::FourCc("pict");
constexpr uint32_t kPitm = CHHeifContainer::FourCc("pitm");
constexpr uint32_t kIinf = CHHeifContainer::FourCc("iinf");
constexpr uint32_t kInfe = CHHeifContainer::FourCc("infe");
constexpr uint32_t kIloc = CHHeifContainer::FourCc("iloc");
constexpr uint32_t kIref = CHHeifContainer::FourCc("iref");
constexpr uint32_t kIprp = CHHeifContainer::FourCc("iprp");
constexpr uint32_t kIpco = CHHeifContainer::FourCc("ipco");
constexpr uint32_t kIpma = CHHeifContainer::FourCc("ipma");
constexpr uint32_t kIdat = CHHeifContainer::FourCc("idat");
constexpr uint32_t kIspe = CHHeifContainer::FourCc("ispe");
constexpr uint32_t kIrot = CHHeifContainer::FourCc("irot");
constexpr uint32_t kImir = CHHeifContainer::FourCc("imir");
constexpr uint32_t kExif = CHHeifContainer::FourCc("Exif");
constexpr uint32_t kThmb = CHHeifContainer::FourCc("thmb");
constexpr uint32_t kCdsc = CHHeifContainer::FourCc("cdsc");
constexpr uint32_t kDimg = CHHeifContainer::FourCc("dimg");

constexpr uint32_t kBrands[] = {
    CHHeifContainer::FourCc("heic"), CHHeifContainer::FourCc("heix"),
    CHHeifContainer::FourCc("hevc"), CHHeifContainer::FourCc("mif1"),
    CHHeifContainer::FourCc("msf1"), CHHeifContainer::FourCc("avif"),
};

// Far more than any camera writes (a 200-megapixel grid of 256-pixel tiles has about 3000
// items); a table beyond these is refused rather than walked.
constexpr size_t kMaxItems = 1 << 16;
constexpr size_t kMaxExtents = 1 << 18;
// Derived images (grids of grids, identity transforms) nest a few levels at most.
constexpr int kMaxDerivationDepth = 16;

// One box inside a byte range: its type and its payload after the header.
struct Box {
    uint32_t type = 0;
    uint64_t offset = 0; // of the header, within the range walked
    uint64_t size = 0;   // header included
    std::string_view payload;
};

enum class Read { Ok, End, Bad, Short };

// The box at pos of data. Short: the header or the box reaches past data. A size of 0 means "up
// to the end of data".
Read ReadBox(std::string_view data, uint64_t pos, Box& box) {
    CHByteReader reader(data, true);
    if (pos >= data.size()) {
        return Read::End;
    }
    uint32_t size32 = 0;
    if (!reader.U32(pos, size32) || !reader.U32(pos + 4, box.type)) {
        return Read::Short;
    }
    uint64_t header = 8;
    uint64_t size = size32;
    if (size32 == 1) {
        uint32_t high = 0;
        uint32_t low = 0;
        if (!reader.U32(pos + 8, high) || !reader.U32(pos + 12, low)) {
            return Read::Short;
        }
        header = 16;
        size = uint64_t{high} << 32 | low;
    } else if (size32 == 0) {
        size = data.size() - pos;
    }
    if (size < header) {
        return Read::Bad;
    }
    box.offset = pos;
    box.size = size;
    if (!reader.Contains(pos, size)) {
        box.payload = {};
        return Read::Short;
    }
    box.payload = data.substr(pos + header, size - header);
    return Read::Ok;
}

// Calls visit for every box of a range that must be filled exactly by whole boxes.
template <typename Visit> bool ForEachChild(std::string_view data, Visit visit) {
    Box box;
    for (uint64_t pos = 0;;) {
        Read read = ReadBox(data, pos, box);
        if (read == Read::End) {
            return true;
        }
        if (read != Read::Ok || !visit(box)) {
            return false;
        }
        pos += box.size;
    }
}

// Reads a big-endian field of 0, 2, 4 or 8 bytes and moves past it.
bool ReadField(const CHByteReader& reader, uint64_t& pos, unsigned bytes, uint64_t& value) {
    value = 0;
    if (bytes == 0) {
        return true;
    }
    if (bytes == 2) {
        uint16_t v = 0;
        if (!reader.U16(pos, v)) {
            return false;
        }
        value = v;
    } else if (bytes == 4 || bytes == 8) {
        uint32_t v = 0;
        for (unsigned at = 0; at < bytes; at += 4) {
            if (!reader.U32(pos + at, v)) {
                return false;
            }
            value = value << 32 | v;
        }
    } else {
        return false;
    }
    pos += bytes;
    return true;
}

bool IsFieldSize(unsigned bytes) {
    return bytes == 0 || bytes == 4 || bytes == 8;
}

} // namespace

bool CHHeifContainer::HasHeifBrand(std::string_view bytes) {
    CHByteReader reader(bytes, true);
    uint32_t size = 0;
    uint32_t type = 0;
    if (!reader.U32(0, size) || !reader.U32(4, type) || type != kFtyp || size < 16) {
        return false;
    }
    // Brands: the major one at 8, then compatible ones from 16 (the minor version sits at 12).
    const uint64_t end = std::min<uint64_t>(size, bytes.size());
    for (uint64_t pos = 8; pos + 4 <= end; pos += pos == 8 ? 8 : 4) {
        uint32_t brand = 0;
        reader.U32(pos, brand);
        if (std::find(std::begin(kBrands), std::end(kBrands), brand) != std::end(kBrands)) {
            return true;
        }
    }
    return false;
}

CHHeifContainer::Status CHHeifContainer::Parse(std::string_view bytes, bool complete) {
    *this = CHHeifContainer{};
    if (!HasHeifBrand(bytes)) {
        return bytes.size() < 16 && !complete ? Status::NeedMoreBytes : Status::NotHeif;
    }
    bool metaSeen = false;
    Box box;
    for (uint64_t pos = 0;;) {
        Read read = ReadBox(bytes, pos, box);
        if (read == Read::End) {
            break;
        }
        if (read == Read::Bad) {
            return Status::Corrupt;
        }
        if (read == Read::Short) {
            if (complete) {
                return Status::Corrupt; // a box said to reach past the end of the file
            }
            if (metaSeen) {
                break; // the rest is image data, read when decoding
            }
            m_metaEnd = box.type == kMeta ? pos + box.size : 0;
            return Status::NeedMoreBytes;
        }
        if (box.type == kMeta) {
            if (metaSeen) {
                return Status::Corrupt;
            }
            metaSeen = true;
            m_metaEnd = pos + box.size;
            const uint64_t payloadOffset = box.payload.data() - bytes.data();
            Status status = ParseMeta(box.payload, payloadOffset);
            if (status != Status::Ok) {
                return status;
            }
        }
        pos += box.size;
    }
    if (!metaSeen) {
        return complete ? Status::Corrupt : Status::NeedMoreBytes;
    }
    // A whole file must hold the data of every item it lists.
    return complete && DataEnd() > bytes.size() ? Status::Corrupt : Status::Ok;
}

CHHeifContainer::Status CHHeifContainer::ParseMeta(std::string_view meta, uint64_t metaOffset) {
    // A full box: version and flags first.
    if (meta.size() < 4) {
        return Status::Corrupt;
    }
    std::string_view children = meta.substr(4);
    std::string_view properties;
    bool ok = ForEachChild(children, [&](const Box& box) {
        switch (box.type) {
        case kHdlr:
            return ParseHandler(box.payload);
        case kPitm:
            return ParsePrimary(box.payload);
        case kIinf:
            return ParseItemInfo(box.payload);
        case kIloc:
            return ParseLocations(box.payload);
        case kIref:
            return ParseReferences(box.payload);
        case kIprp:
            properties = box.payload;
            return true;
        case kIdat:
            m_hasIdat = true;
            m_idatOffset = metaOffset + 4 + box.offset + (box.size - box.payload.size());
            m_idatLength = box.payload.size();
            return true;
        default:
            return true;
        }
    });
    // Locations and properties refer to items, which may be listed after them: they are
    // applied once every item is known.
    if (!ok || !m_isPicture || !m_hasPrimary || !ParseProperties(properties) || !ApplyLocations()) {
        return Status::Corrupt;
    }
    const Item* primary = FindItem(m_primaryId);
    if (primary == nullptr || primary->width == 0 || primary->height == 0) {
        return Status::Corrupt;
    }
    m_primary = static_cast<size_t>(primary - m_items.data());
    if (!DerivationsEndWithoutLoop()) {
        return Status::Corrupt;
    }
    return Status::Ok;
}

bool CHHeifContainer::ParseHandler(std::string_view box) {
    // version/flags, pre_defined, handler_type
    CHByteReader reader(box, true);
    uint32_t handler = 0;
    if (!reader.U32(8, handler)) {
        return false;
    }
    m_isPicture = handler == kPict;
    return true;
}

bool CHHeifContainer::ParsePrimary(std::string_view box) {
    CHByteReader reader(box, true);
    uint8_t version = 0;
    if (!reader.U8(0, version)) {
        return false;
    }
    uint64_t pos = 4;
    uint64_t id = 0;
    if (!ReadField(reader, pos, version == 0 ? 2 : 4, id)) {
        return false;
    }
    m_primaryId = static_cast<uint32_t>(id);
    m_hasPrimary = true;
    return true;
}

CHHeifContainer::Item* CHHeifContainer::MutableItem(uint32_t id) {
    auto it = m_index.find(id);
    return it == m_index.end() ? nullptr : &m_items[it->second];
}

const CHHeifContainer::Item* CHHeifContainer::FindItem(uint32_t id) const {
    auto it = m_index.find(id);
    return it == m_index.end() ? nullptr : &m_items[it->second];
}

bool CHHeifContainer::ParseItemInfo(std::string_view box) {
    CHByteReader reader(box, true);
    uint8_t version = 0;
    if (!reader.U8(0, version)) {
        return false;
    }
    const uint64_t entries = version == 0 ? 6 : 8; // after version/flags and the entry count
    if (box.size() < entries) {
        return false;
    }
    return ForEachChild(box.substr(entries), [&](const Box& child) {
        if (child.type != kInfe) {
            return true;
        }
        CHByteReader infe(child.payload, true);
        uint8_t infeVersion = 0;
        if (!infe.U8(0, infeVersion)) {
            return false;
        }
        if (infeVersion < 2) {
            return true; // the old form names no item type
        }
        uint64_t pos = 4;
        uint64_t id = 0;
        uint32_t type = 0;
        if (!ReadField(infe, pos, infeVersion == 2 ? 2 : 4, id) || !infe.U32(pos + 2, type)) {
            return false;
        }
        if (m_items.size() >= kMaxItems ||
            !m_index.emplace(static_cast<uint32_t>(id), m_items.size()).second) {
            return false; // too many items, or the same item twice
        }
        Item item;
        item.id = static_cast<uint32_t>(id);
        item.type = type;
        m_items.push_back(item);
        return true;
    });
}

bool CHHeifContainer::ParseLocations(std::string_view box) {
    CHByteReader reader(box, true);
    uint8_t version = 0;
    uint8_t sizes = 0;
    uint8_t moreSizes = 0;
    if (!reader.U8(0, version) || version > 2 || !reader.U8(4, sizes) || !reader.U8(5, moreSizes)) {
        return false;
    }
    const unsigned offsetSize = sizes >> 4;
    const unsigned lengthSize = sizes & 15;
    const unsigned baseSize = moreSizes >> 4;
    const unsigned indexSize = version >= 1 ? moreSizes & 15 : 0;
    if (!IsFieldSize(offsetSize) || !IsFieldSize(lengthSize) || !IsFieldSize(baseSize) ||
        !IsFieldSize(indexSize)) {
        return false;
    }
    uint64_t pos = 6;
    uint64_t count = 0;
    if (!ReadField(reader, pos, version < 2 ? 2 : 4, count)) {
        return false;
    }
    size_t totalExtents = 0;
    for (uint64_t i = 0; i < count; ++i) {
        uint64_t id = 0;
        uint64_t method = 0;
        uint64_t reference = 0;
        uint64_t base = 0;
        uint64_t extentCount = 0;
        if (!ReadField(reader, pos, version < 2 ? 2 : 4, id) ||
            (version >= 1 && !ReadField(reader, pos, 2, method)) ||
            !ReadField(reader, pos, 2, reference) || !ReadField(reader, pos, baseSize, base) ||
            !ReadField(reader, pos, 2, extentCount)) {
            return false;
        }
        method &= 15;
        // Extents that take no bytes would let a small box claim a huge table.
        if (extentCount > 1 && offsetSize + lengthSize + indexSize == 0) {
            return false;
        }
        totalExtents += extentCount;
        if (totalExtents > kMaxExtents) {
            return false;
        }
        std::vector<Extent> extents;
        for (uint64_t e = 0; e < extentCount; ++e) {
            uint64_t index = 0;
            Extent extent;
            if (!ReadField(reader, pos, indexSize, index) ||
                !ReadField(reader, pos, offsetSize, extent.offset) ||
                !ReadField(reader, pos, lengthSize, extent.length)) {
                return false;
            }
            if (extent.offset > UINT64_MAX - base) {
                return false;
            }
            extent.offset += base;
            if (extent.length > UINT64_MAX - extent.offset) {
                return false;
            }
            extents.push_back(extent);
        }
        // Data in another file, or built from other items, is not ours to read.
        if (reference == 0 && method <= 1) {
            m_locations.push_back({static_cast<uint32_t>(id), method == 1, std::move(extents)});
        }
    }
    return true;
}

bool CHHeifContainer::ApplyLocations() {
    for (Location& location : m_locations) {
        Item* item = MutableItem(location.id);
        if (item == nullptr || item->located) {
            continue;
        }
        if (location.inIdat) {
            for (Extent& extent : location.extents) {
                if (!m_hasIdat || extent.offset > m_idatLength ||
                    extent.length > m_idatLength - extent.offset) {
                    return false;
                }
                if (extent.length == 0) {
                    extent.length = m_idatLength - extent.offset;
                }
                extent.offset += m_idatOffset;
            }
        }
        item->extents = std::move(location.extents);
        item->located = true;
    }
    m_locations.clear();
    return true;
}

bool CHHeifContainer::ParseReferences(std::string_view box) {
    CHByteReader reader(box, true);
    uint8_t version = 0;
    if (!reader.U8(0, version) || box.size() < 4) {
        return false;
    }
    const unsigned idSize = version == 0 ? 2 : 4;
    return ForEachChild(box.substr(4), [&](const Box& child) {
        CHByteReader refs(child.payload, true);
        uint64_t pos = 0;
        uint64_t from = 0;
        uint64_t count = 0;
        if (!ReadField(refs, pos, idSize, from) || !ReadField(refs, pos, 2, count)) {
            return false;
        }
        Reference reference;
        reference.type = child.type;
        reference.from = static_cast<uint32_t>(from);
        for (uint64_t i = 0; i < count; ++i) {
            uint64_t to = 0;
            if (!ReadField(refs, pos, idSize, to)) {
                return false;
            }
            reference.to.push_back(static_cast<uint32_t>(to));
        }
        m_references.push_back(std::move(reference));
        return true;
    });
}

bool CHHeifContainer::ParseProperties(std::string_view box) {
    std::vector<std::string_view> properties; // index 1 is the first
    std::vector<uint32_t> types;
    std::vector<std::string_view> associations;
    bool ok = ForEachChild(box, [&](const Box& child) {
        if (child.type == kIpco) {
            return ForEachChild(child.payload, [&](const Box& property) {
                properties.push_back(property.payload);
                types.push_back(property.type);
                return properties.size() <= 0x7FFF;
            });
        }
        if (child.type == kIpma) {
            associations.push_back(child.payload);
        }
        return true;
    });
    if (!ok) {
        return false;
    }
    for (std::string_view ipma : associations) {
        CHByteReader reader(ipma, true);
        uint8_t version = 0;
        uint8_t flags = 0;
        uint32_t count = 0;
        if (!reader.U8(0, version) || !reader.U8(3, flags) || !reader.U32(4, count)) {
            return false;
        }
        const bool wideIndex = (flags & 1) != 0;
        uint64_t pos = 8;
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t id = 0;
            uint8_t associationCount = 0;
            if (!ReadField(reader, pos, version < 1 ? 2 : 4, id) ||
                !reader.U8(pos, associationCount)) {
                return false;
            }
            ++pos;
            Item* item = MutableItem(static_cast<uint32_t>(id));
            for (unsigned a = 0; a < associationCount; ++a) {
                uint64_t index = 0;
                if (wideIndex) {
                    if (!ReadField(reader, pos, 2, index)) {
                        return false;
                    }
                    index &= 0x7FFF;
                } else {
                    uint8_t small = 0;
                    if (!reader.U8(pos++, small)) {
                        return false;
                    }
                    index = small & 0x7F;
                }
                if (index > properties.size()) {
                    return false;
                }
                if (index == 0 || item == nullptr) {
                    continue;
                }
                const std::string_view payload = properties[index - 1];
                const uint32_t type = types[index - 1];
                CHByteReader property(payload, true);
                uint8_t value = 0;
                if (type == kIspe && item->width == 0) {
                    uint32_t width = 0;
                    uint32_t height = 0;
                    if (!property.U32(4, width) || !property.U32(8, height)) {
                        return false;
                    }
                    item->width = width;
                    item->height = height;
                } else if (type == kIrot && property.U8(0, value)) {
                    item->quarterTurns = value & 3;
                } else if (type == kImir && property.U8(0, value)) {
                    item->mirrorAxis = value & 1;
                }
            }
        }
    }
    return true;
}

bool CHHeifContainer::DerivationsEndWithoutLoop() const {
    std::unordered_map<uint32_t, std::vector<uint32_t>> inputs;
    for (const Reference& reference : m_references) {
        if (reference.type == kDimg) {
            auto& list = inputs[reference.from];
            list.insert(list.end(), reference.to.begin(), reference.to.end());
        }
    }
    // Depth-first from the primary image: an item met again on the current path is a loop;
    // items whose inputs were all followed already are not walked twice.
    enum State { kOnPath = 1, kDone = 2 };
    std::unordered_map<uint32_t, int> state;
    auto walk = [&](auto& self, uint32_t id, int depth) -> bool {
        int& mark = state[id];
        if (mark == kDone) {
            return true;
        }
        if (mark == kOnPath || depth > kMaxDerivationDepth) {
            return false;
        }
        mark = kOnPath;
        auto it = inputs.find(id);
        if (it != inputs.end()) {
            for (uint32_t input : it->second) {
                if (!self(self, input, depth + 1)) {
                    return false;
                }
            }
        }
        state[id] = kDone;
        return true;
    };
    return walk(walk, m_primaryId, 0);
}

std::vector<const CHHeifContainer::Item*> CHHeifContainer::Thumbnails() const {
    std::vector<const Item*> thumbnails;
    for (const Reference& reference : m_references) {
        if (reference.type != kThmb || std::find(reference.to.begin(), reference.to.end(),
                                                 m_primaryId) == reference.to.end()) {
            continue;
        }
        const Item* item = FindItem(reference.from);
        if (item != nullptr && item->width > 0 && item->height > 0) {
            thumbnails.push_back(item);
        }
    }
    return thumbnails;
}

CHHeifContainer::Status CHHeifContainer::ExifTiff(std::string_view bytes, bool complete,
                                                  std::string_view& tiff) const {
    tiff = {};
    const Item* exif = nullptr;
    for (const Reference& reference : m_references) {
        if (reference.type == kCdsc && std::find(reference.to.begin(), reference.to.end(),
                                                 m_primaryId) != reference.to.end()) {
            const Item* item = FindItem(reference.from);
            if (item != nullptr && item->type == kExif) {
                exif = item;
                break;
            }
        }
    }
    for (size_t i = 0; exif == nullptr && i < m_items.size(); ++i) {
        if (m_items[i].type == kExif) {
            exif = &m_items[i];
        }
    }
    // One piece of data is what writers make; anything else is left unread.
    if (exif == nullptr || !exif->located || exif->extents.size() != 1) {
        return Status::Ok;
    }
    const Extent& extent = exif->extents.front();
    if (extent.length == 0 && !complete) {
        return Status::NeedMoreBytes; // up to the end of a file not yet read to its end
    }
    const uint64_t length =
        extent.length != 0 ? extent.length
                           : (extent.offset <= bytes.size() ? bytes.size() - extent.offset : 0);
    CHByteReader reader(bytes, true);
    std::string_view data;
    if (!reader.Bytes(extent.offset, length, data)) {
        return complete ? Status::Corrupt : Status::NeedMoreBytes;
    }
    // The payload starts with the offset of the TIFF header after this field.
    CHByteReader payload(data, true);
    uint32_t skip = 0;
    if (!payload.U32(0, skip) || skip > data.size() - 4) {
        return Status::Ok;
    }
    data.remove_prefix(4 + uint64_t{skip});
    constexpr std::string_view kExifPrefix{"Exif\0\0", 6};
    if (data.substr(0, kExifPrefix.size()) == kExifPrefix) {
        data.remove_prefix(kExifPrefix.size());
    }
    tiff = data;
    return Status::Ok;
}

uint64_t CHHeifContainer::DataEnd() const {
    uint64_t end = 0;
    for (const Item& item : m_items) {
        for (const Extent& extent : item.extents) {
            end = std::max(end, extent.offset + extent.length);
        }
    }
    return end;
}
