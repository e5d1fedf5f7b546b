#include "ui/framework/UISkinPackage.h"

#include <limits>

namespace {

constexpr std::string_view kMagic = ".uir";

// A cursor over the package that refuses to read past its end.
class PackageCursor {
public:
    explicit PackageCursor(std::string_view bytes) : m_bytes(bytes) {}

    size_t Left() const { return m_bytes.size() - m_pos; }

    bool ReadU32(uint32_t& value) {
        if (Left() < 4) {
            return false;
        }
        const auto* p = reinterpret_cast<const unsigned char*>(m_bytes.data() + m_pos);
        value = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                (uint32_t(p[3]) << 24);
        m_pos += 4;
        return true;
    }

    bool Take(uint32_t length, std::string_view& out) {
        if (length > Left()) {
            return false;
        }
        out = m_bytes.substr(m_pos, length);
        m_pos += length;
        return true;
    }

private:
    std::string_view m_bytes;
    size_t m_pos = 0;
};

void AppendU32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
}

} // namespace

bool ParseSkinPackage(std::string_view bytes, SkinPackageContents& out) {
    out = SkinPackageContents{};
    if (bytes.substr(0, kMagic.size()) != kMagic) {
        return false;
    }
    PackageCursor cursor(bytes.substr(kMagic.size()));
    uint32_t jsonLength = 0;
    std::string_view json;
    if (!cursor.ReadU32(jsonLength) || !cursor.Take(jsonLength, json)) {
        return false;
    }
    uint32_t count = 0;
    // Every entry needs at least its id and size: a count beyond that cannot be honest.
    if (!cursor.ReadU32(count) || count > cursor.Left() / 8) {
        return false;
    }
    SkinPackageContents contents;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t id = 0;
        uint32_t size = 0;
        std::string_view blob;
        if (!cursor.ReadU32(id) || !cursor.ReadU32(size) || !cursor.Take(size, blob)) {
            return false;
        }
        if (id <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
            contents.blobs[static_cast<int32_t>(id)] = blob;
        }
    }
    while (!json.empty() && json.back() == '\0') {
        json.remove_suffix(1);
    }
    contents.json = json;
    out = std::move(contents);
    return true;
}

std::string BuildSkinPackage(std::string_view json,
                             const std::vector<std::pair<uint32_t, std::string>>& blobs) {
    std::string out(kMagic);
    AppendU32(out, static_cast<uint32_t>(json.size()));
    out.append(json);
    AppendU32(out, static_cast<uint32_t>(blobs.size()));
    for (const auto& [id, bytes] : blobs) {
        AppendU32(out, id);
        AppendU32(out, static_cast<uint32_t>(bytes.size()));
        out.append(bytes);
    }
    return out;
}
