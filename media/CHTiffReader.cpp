#include "media/CHTiffReader.h"

#include "media/CHByteReader.h"

#include <algorithm>

namespace {

constexpr uint32_t kEntrySize = 12;

uint8_t ByteAt(std::string_view bytes, size_t index) {
    return index < bytes.size() ? static_cast<uint8_t>(bytes[index]) : 0;
}

} // namespace

uint32_t CHTiffReader::TypeSize(uint16_t type) {
    switch (type) {
    case kByte:
    case kAscii:
    case kSByte:
    case kUndefined:
        return 1;
    case kShort:
    case kSShort:
        return 2;
    case kLong:
    case kSLong:
    case kFloat:
    case kIfd:
        return 4;
    case kRational:
    case kSRational:
    case kDouble:
        return 8;
    default:
        return 0;
    }
}

uint16_t CHTiffReader::Item::ShortValue() const {
    if (value.empty()) {
        return 0;
    }
    uint32_t width = TypeSize(type);
    // A rational's halves are 32-bit numbers of their own.
    if (type == kRational || type == kSRational) {
        width = 4;
    }
    if (!bigEndian || width < 2) {
        return static_cast<uint16_t>(ByteAt(value, 1) << 8 | ByteAt(value, 0));
    }
    // Big-endian: the low-order bytes of the first number are its last two.
    return static_cast<uint16_t>(ByteAt(value, width - 2) << 8 | ByteAt(value, width - 1));
}

float CHTiffReader::Item::RationalValue() const {
    if (type != kRational && type != kSRational) {
        return 0;
    }
    CHByteReader reader(value, bigEndian);
    uint32_t numerator = 0;
    uint32_t denominator = 0;
    if (!reader.U32(0, numerator) || !reader.U32(4, denominator) || denominator == 0) {
        return 0;
    }
    return static_cast<float>(static_cast<int32_t>(numerator)) /
           static_cast<float>(static_cast<int32_t>(denominator));
}

std::string_view CHTiffReader::Item::TextBytes() const {
    return value.substr(0, value.find('\0'));
}

bool CHTiffReader::Item::UnsignedValue(uint32_t& result) const {
    CHByteReader reader(value, bigEndian);
    switch (type) {
    case kByte: {
        uint8_t byte = 0;
        if (!reader.U8(0, byte)) {
            return false;
        }
        result = byte;
        return true;
    }
    case kShort: {
        uint16_t word = 0;
        if (!reader.U16(0, word)) {
            return false;
        }
        result = word;
        return true;
    }
    case kLong:
    case kIfd:
        return reader.U32(0, result);
    default:
        return false;
    }
}

bool CHTiffReader::ParseHeader(std::string_view tiff, uint32_t& firstIfd) {
    m_bytes = tiff;
    m_truncated = false;
    m_visitedCount = 0;
    m_items.clear();
    CHByteReader reader(tiff);
    if (reader.Matches(0, "II")) {
        m_bigEndian = false;
    } else if (reader.Matches(0, "MM")) {
        m_bigEndian = true;
    } else {
        return false;
    }
    reader.SetBigEndian(m_bigEndian);
    uint16_t magic = 0;
    if (!reader.U16(2, magic) || magic != 42 || !reader.U32(4, firstIfd)) {
        return false;
    }
    return true;
}

bool CHTiffReader::Parse(std::string_view tiff) {
    uint32_t firstIfd = 0;
    if (!ParseHeader(tiff, firstIfd)) {
        return false;
    }
    ReadIfd(firstIfd, true);
    SortByTag();
    return true;
}

bool CHTiffReader::ParseFirstIfd(std::string_view tiff) {
    uint32_t firstIfd = 0;
    if (!ParseHeader(tiff, firstIfd)) {
        return false;
    }
    ReadIfd(firstIfd, false);
    SortByTag();
    return true;
}

void CHTiffReader::ReadIfd(uint32_t offset, bool followSubIfds) {
    // Each directory is read at most once, so pointers that loop back end the walk.
    auto visitedEnd = m_visited.begin() + m_visitedCount;
    if (m_visitedCount == m_visited.size() ||
        std::find(m_visited.begin(), visitedEnd, offset) != visitedEnd) {
        return;
    }
    m_visited[m_visitedCount++] = offset;

    CHByteReader reader(m_bytes, m_bigEndian);
    uint16_t entryCount = 0;
    if (!reader.U16(offset, entryCount)) {
        m_truncated = true;
        return;
    }
    size_t firstNew = m_items.size();
    // Reserve only for the entries the bytes can hold, whatever the count claims.
    m_items.reserve(firstNew + std::min<uint64_t>(entryCount, reader.Size() / kEntrySize));
    for (uint32_t i = 0; i < entryCount; ++i) {
        uint64_t entry = uint64_t{offset} + 2 + uint64_t{i} * kEntrySize;
        Item item;
        uint32_t valueField = 0;
        if (!reader.U16(entry, item.tag) || !reader.U16(entry + 2, item.type) ||
            !reader.U32(entry + 4, item.count) || !reader.U32(entry + 8, valueField)) {
            m_truncated = true;
            break;
        }
        uint32_t typeSize = TypeSize(item.type);
        if (typeSize == 0) {
            continue;
        }
        uint64_t length = uint64_t{item.count} * typeSize;
        uint64_t valueOffset = length <= 4 ? entry + 8 : valueField;
        if (!reader.Bytes(valueOffset, length, item.value)) {
            m_truncated = true;
            continue;
        }
        item.bigEndian = m_bigEndian;
        m_items.push_back(item);
    }
    if (!followSubIfds) {
        return;
    }
    // Sub-directories are read after their parent so the parent's entries come first.
    size_t lastNew = m_items.size();
    for (uint16_t pointerTag : {kExifIfdTag, kGpsIfdTag}) {
        for (size_t i = firstNew; i < lastNew; ++i) {
            uint32_t subIfd = 0;
            if (m_items[i].tag == pointerTag && m_items[i].UnsignedValue(subIfd)) {
                ReadIfd(subIfd, false);
                break;
            }
        }
    }
}

void CHTiffReader::SortByTag() {
    std::stable_sort(m_items.begin(), m_items.end(),
                     [](const Item& a, const Item& b) { return a.tag < b.tag; });
    auto last = std::unique(m_items.begin(), m_items.end(),
                            [](const Item& a, const Item& b) { return a.tag == b.tag; });
    m_items.erase(last, m_items.end());
}

const CHTiffReader::Item* CHTiffReader::Find(uint16_t tag) const {
    auto it = std::lower_bound(m_items.begin(), m_items.end(), tag,
                               [](const Item& item, uint16_t wanted) { return item.tag < wanted; });
    return it != m_items.end() && it->tag == tag ? &*it : nullptr;
}
