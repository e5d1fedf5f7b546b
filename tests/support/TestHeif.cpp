#include "tests/support/TestHeif.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

extern char** environ;

namespace {

uint32_t Get32(const std::string& bytes, size_t at) {
    if (at + 4 > bytes.size()) {
        return 0;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint64_t GetN(const std::string& bytes, size_t at, unsigned size) {
    uint64_t value = 0;
    for (unsigned i = 0; i < size && at + i < bytes.size(); ++i) {
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    }
    return value;
}

void PutN(std::string& bytes, size_t at, unsigned size, uint64_t value) {
    for (unsigned i = 0; i < size; ++i) {
        bytes[at + size - 1 - i] = static_cast<char>(value >> (8 * i));
    }
}

struct RawBox {
    std::string type;
    size_t offset = 0; // of the header
    size_t size = 0;
    size_t header = 8;
};

// The boxes of [begin, end) of bytes (32-bit sizes only, as the files here have).
std::vector<RawBox> Boxes(const std::string& bytes, size_t begin, size_t end) {
    std::vector<RawBox> boxes;
    while (begin + 8 <= end) {
        RawBox box;
        box.offset = begin;
        box.size = Get32(bytes, begin);
        box.type = bytes.substr(begin + 4, 4);
        if (box.size < 8 || begin + box.size > end) {
            return {};
        }
        boxes.push_back(box);
        begin += box.size;
    }
    return boxes;
}

const RawBox* Find(const std::vector<RawBox>& boxes, const std::string& type) {
    for (const RawBox& box : boxes) {
        if (box.type == type) {
            return &box;
        }
    }
    return nullptr;
}

// One iloc entry: where its offset fields are, so they can be moved.
struct LocationFields {
    uint32_t id = 0;
    unsigned method = 0;
    size_t baseAt = 0;
    unsigned baseSize = 0;
    std::vector<size_t> offsetAt; // per extent
    std::vector<size_t> lengthAt;
    unsigned offsetSize = 0;
    unsigned lengthSize = 0;
};

// The entries of the iloc box at box (whole box, header included) of bytes.
std::vector<LocationFields> Locations(const std::string& bytes, const RawBox& box) {
    size_t at = box.offset + 8;
    const unsigned version = static_cast<unsigned char>(bytes[at]);
    const unsigned sizes = static_cast<unsigned char>(bytes[at + 4]);
    const unsigned more = static_cast<unsigned char>(bytes[at + 5]);
    const unsigned offsetSize = sizes >> 4;
    const unsigned lengthSize = sizes & 15;
    const unsigned baseSize = more >> 4;
    const unsigned indexSize = version >= 1 ? more & 15 : 0;
    at += 6;
    const unsigned idSize = version < 2 ? 2 : 4;
    const uint64_t count = GetN(bytes, at, idSize);
    at += idSize;
    std::vector<LocationFields> entries;
    for (uint64_t i = 0; i < count && at < box.offset + box.size; ++i) {
        LocationFields entry;
        entry.id = static_cast<uint32_t>(GetN(bytes, at, idSize));
        at += idSize;
        if (version >= 1) {
            entry.method = GetN(bytes, at, 2) & 15;
            at += 2;
        }
        at += 2; // data reference index
        entry.baseAt = at;
        entry.baseSize = baseSize;
        at += baseSize;
        const uint64_t extents = GetN(bytes, at, 2);
        at += 2;
        entry.offsetSize = offsetSize;
        entry.lengthSize = lengthSize;
        for (uint64_t e = 0; e < extents; ++e) {
            at += indexSize;
            entry.offsetAt.push_back(at);
            at += offsetSize;
            entry.lengthAt.push_back(at);
            at += lengthSize;
        }
        entries.push_back(entry);
    }
    return entries;
}

// The meta box and its children in a file as heif-enc writes it.
struct MetaLayout {
    RawBox meta;
    std::vector<RawBox> children;
};

bool FindMeta(const std::string& heif, MetaLayout& layout) {
    const std::vector<RawBox> top = Boxes(heif, 0, heif.size());
    const RawBox* meta = Find(top, "meta");
    if (meta == nullptr) {
        return false;
    }
    layout.meta = *meta;
    layout.children = Boxes(heif, meta->offset + 12, meta->offset + meta->size);
    return !layout.children.empty();
}

// irot turns anticlockwise in quarter turns; imir 0 exchanges top and bottom, 1 left and right
// (the meaning phones and libheif give it). Listed in the order they apply.
void TransformOf(int orientation, int& turns, int& axis) {
    static const int kTurns[9] = {0, 0, 0, 2, 0, 3, 3, 3, 1};
    static const int kAxis[9] = {-1, -1, 1, -1, 0, 1, -1, 0, -1};
    const int o = orientation >= 1 && orientation <= 8 ? orientation : 1;
    turns = kTurns[o];
    axis = kAxis[o];
}

} // namespace

std::string BigEndian16(uint32_t value) {
    return {static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string BigEndian32(uint32_t value) {
    return BigEndian16(value >> 16) + BigEndian16(value & 0xFFFF);
}

std::string HeifBox(const std::string& type, const std::string& payload) {
    return BigEndian32(static_cast<uint32_t>(payload.size() + 8)) + type + payload;
}

std::string HeifFullBox(const std::string& type, int version, uint32_t flags,
                        const std::string& payload) {
    return HeifBox(type, std::string(1, static_cast<char>(version)) + BigEndian32(flags).substr(1) +
                             payload);
}

bool RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return false;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveHeifTools() {
    static const bool have =
        RunTool({"heif-enc", "--list-encoders"}) && RunTool({"exiftool", "-ver"});
    return have;
}

bool HeifEncode(const fs::path& jpeg, const fs::path& out, int thumbnail, bool avif, int quality) {
    std::vector<std::string> args{"heif-enc", "-q", std::to_string(quality)};
    if (thumbnail > 0) {
        args.insert(args.end(), {"-t", std::to_string(thumbnail)});
    }
    if (avif) {
        args.push_back("--avif");
    } else {
        // One thread pool less makes the encoder start much faster.
        args.insert(args.end(), {"-p", "x265:pools=none"});
    }
    args.insert(args.end(), {"-o", out.string(), jpeg.string()});
    return RunTool(args);
}

bool SetExifOrientation(const std::vector<fs::path>& files, int orientation) {
    std::vector<std::string> args{"exiftool", "-q", "-overwrite_original",
                                  "-Orientation#=" + std::to_string(orientation)};
    for (const fs::path& file : files) {
        args.push_back(file.string());
    }
    return RunTool(args);
}

std::string WithHeifOrientation(const std::string& heif, int orientation) {
    MetaLayout layout;
    if (!FindMeta(heif, layout)) {
        return "";
    }
    int turns = 0;
    int axis = -1;
    TransformOf(orientation, turns, axis);
    const RawBox* iprp = Find(layout.children, "iprp");
    const RawBox* ilocBox = Find(layout.children, "iloc");
    if (iprp == nullptr || ilocBox == nullptr) {
        return "";
    }
    const std::vector<RawBox> parts = Boxes(heif, iprp->offset + 8, iprp->offset + iprp->size);
    const RawBox* ipco = Find(parts, "ipco");
    const RawBox* ipma = Find(parts, "ipma");
    if (ipco == nullptr || ipma == nullptr || heif[ipma->offset + 8] != 0 ||
        (heif[ipma->offset + 11] & 1) != 0) {
        return ""; // only the short association form
    }
    const std::vector<RawBox> properties = Boxes(heif, ipco->offset + 8, ipco->offset + ipco->size);
    std::string newProperties = heif.substr(ipco->offset + 8, ipco->size - 8);
    std::vector<int> added;
    if (turns != 0) {
        newProperties += HeifBox("irot", std::string(1, static_cast<char>(turns)));
        added.push_back(static_cast<int>(properties.size() + added.size() + 1));
    }
    if (axis >= 0) {
        newProperties += HeifBox("imir", std::string(1, static_cast<char>(axis)));
        added.push_back(static_cast<int>(properties.size() + added.size() + 1));
    }
    if (properties.size() + added.size() > 127) {
        return "";
    }
    // Every item with an ispe is a coded image: it gets the new associations.
    std::string associations;
    size_t at = ipma->offset + 12;
    const uint32_t entries = Get32(heif, at);
    at += 4;
    for (uint32_t e = 0; e < entries; ++e) {
        const std::string id = heif.substr(at, 2);
        const unsigned count = static_cast<unsigned char>(heif[at + 2]);
        std::string list = heif.substr(at + 3, count);
        at += 3 + count;
        bool image = false;
        for (char index : list) {
            const size_t i = (static_cast<unsigned char>(index) & 0x7F);
            image = image || (i >= 1 && i <= properties.size() && properties[i - 1].type == "ispe");
        }
        if (image) {
            for (int index : added) {
                list.push_back(static_cast<char>(index));
            }
        }
        associations += id + static_cast<char>(list.size()) + list;
    }
    const std::string newIprp =
        HeifBox("iprp", HeifBox("ipco", newProperties) +
                            HeifFullBox("ipma", 0, 0, BigEndian32(entries) + associations));
    const int64_t delta = static_cast<int64_t>(newIprp.size()) - static_cast<int64_t>(iprp->size);
    const size_t metaEnd = layout.meta.offset + layout.meta.size;

    // Data after the meta box moves by delta.
    std::string iloc = heif.substr(ilocBox->offset, ilocBox->size);
    RawBox local = *ilocBox;
    local.offset = 0;
    for (const LocationFields& entry : Locations(iloc, local)) {
        if (entry.method != 0) {
            continue;
        }
        const uint64_t base = GetN(iloc, entry.baseAt, entry.baseSize);
        if (entry.baseSize > 0 && base >= metaEnd) {
            PutN(iloc, entry.baseAt, entry.baseSize, base + delta);
            continue;
        }
        for (size_t offsetAt : entry.offsetAt) {
            const uint64_t offset = GetN(iloc, offsetAt, entry.offsetSize);
            if (base + offset >= metaEnd) {
                PutN(iloc, offsetAt, entry.offsetSize, offset + delta);
            }
        }
    }
    std::string children;
    for (const RawBox& child : layout.children) {
        if (child.type == "iprp") {
            children += newIprp;
        } else if (child.type == "iloc") {
            children += iloc;
        } else {
            children += heif.substr(child.offset, child.size);
        }
    }
    const std::string meta = HeifBox("meta", heif.substr(layout.meta.offset + 8, 4) + children);
    return heif.substr(0, layout.meta.offset) + meta + heif.substr(metaEnd);
}

bool HeifItemData(const std::string& heif, uint32_t id, uint64_t& offset, uint64_t& length) {
    MetaLayout layout;
    if (!FindMeta(heif, layout)) {
        return false;
    }
    const RawBox* iloc = Find(layout.children, "iloc");
    if (iloc == nullptr) {
        return false;
    }
    for (const LocationFields& entry : Locations(heif, *iloc)) {
        if (entry.id == id && entry.method == 0 && !entry.offsetAt.empty()) {
            offset = GetN(heif, entry.baseAt, entry.baseSize) +
                     GetN(heif, entry.offsetAt[0], entry.offsetSize);
            length = GetN(heif, entry.lengthAt[0], entry.lengthSize);
            return true;
        }
    }
    return false;
}

uint32_t HeifPrimaryId(const std::string& heif) {
    MetaLayout layout;
    if (!FindMeta(heif, layout)) {
        return 0;
    }
    const RawBox* pitm = Find(layout.children, "pitm");
    if (pitm == nullptr) {
        return 0;
    }
    const bool wide = heif[pitm->offset + 8] != 0;
    return static_cast<uint32_t>(GetN(heif, pitm->offset + 12, wide ? 4 : 2));
}

HeifBuilder HeifBuilder::Photo(uint32_t width, uint32_t height, const std::string& tiff) {
    HeifBuilder builder;
    Item image;
    image.id = 1;
    image.type = "hvc1";
    image.data = std::string(64, '\x5A');
    image.width = width;
    image.height = height;
    builder.items.push_back(image);
    if (!tiff.empty()) {
        Item exif;
        exif.id = 2;
        exif.type = "Exif";
        exif.data = BigEndian32(0) + tiff;
        builder.items.push_back(exif);
        builder.references.push_back({"cdsc", 2, {1}});
    }
    return builder;
}

std::string HeifBuilder::Build() const {
    std::string ftyp = majorBrand + BigEndian32(0);
    for (const std::string& brand : compatibleBrands) {
        ftyp += brand;
    }
    ftyp = HeifBox("ftyp", ftyp);

    std::string infos;
    std::string properties;
    std::string associations;
    uint32_t associated = 0;
    std::string idat;
    for (const Item& item : items) {
        infos += HeifFullBox("infe", 2, 0,
                             BigEndian16(item.id) + BigEndian16(0) + item.type + std::string(1, 0));
        if (item.width > 0) {
            properties +=
                HeifFullBox("ispe", 0, 0, BigEndian32(item.width) + BigEndian32(item.height));
            const auto index = static_cast<char>(++associated);
            associations += BigEndian16(item.id) + std::string(1, 1) + std::string(1, index);
        }
    }
    std::string refs;
    for (const Reference& reference : references) {
        std::string payload =
            BigEndian16(reference.from) + BigEndian16(uint32_t(reference.to.size()));
        for (uint32_t to : reference.to) {
            payload += BigEndian16(to);
        }
        refs += HeifBox(reference.type, payload);
    }
    // The meta box's size does not depend on the offsets in it, so it is built twice: once to
    // learn where mdat starts, once with the real offsets.
    auto buildMeta = [&](uint64_t mdatData) {
        std::string locations =
            std::string(1, '\x44') + std::string(1, 0) + BigEndian16(uint32_t(items.size()));
        uint64_t inMdat = mdatData;
        uint64_t inIdat = 0;
        for (const Item& item : items) {
            const uint64_t offset = item.inIdat ? inIdat : inMdat;
            (item.inIdat ? inIdat : inMdat) += item.data.size();
            locations += BigEndian16(item.id) + BigEndian16(item.inIdat ? 1 : 0) + BigEndian16(0) +
                         BigEndian16(1) + BigEndian32(uint32_t(offset)) +
                         BigEndian32(uint32_t(item.data.size()));
        }
        const std::string iloc = HeifFullBox("iloc", 1, 0, locations);
        const std::string iinf =
            HeifFullBox("iinf", 0, 0, BigEndian16(uint32_t(items.size())) + infos);
        std::string body =
            HeifFullBox("hdlr", 0, 0, BigEndian32(0) + handler + std::string(13, 0)) +
            HeifFullBox("pitm", 0, 0, BigEndian16(primary));
        body += locationsFirst ? iloc + iinf : iinf + iloc;
        if (!refs.empty()) {
            body += HeifFullBox("iref", 0, 0, refs);
        }
        body +=
            HeifBox("iprp", HeifBox("ipco", properties) +
                                HeifFullBox("ipma", 0, 0, BigEndian32(associated) + associations));
        std::string idatData;
        for (const Item& item : items) {
            if (item.inIdat) {
                idatData += item.data;
            }
        }
        if (!idatData.empty()) {
            body += HeifBox("idat", idatData);
        }
        return HeifFullBox("meta", 0, 0, body);
    };
    const size_t metaSize = buildMeta(0).size();
    const std::string meta = buildMeta(ftyp.size() + metaSize + 8);
    std::string mdat;
    for (const Item& item : items) {
        if (!item.inIdat) {
            mdat += item.data;
        }
    }
    return ftyp + meta + HeifBox("mdat", mdat);
}
