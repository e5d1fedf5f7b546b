#include "media/CHByteReader.h"

bool CHByteReader::Contains(uint64_t offset, uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
}

bool CHByteReader::U8(uint64_t offset, uint8_t& value) const {
    if (!Contains(offset, 1)) {
        return false;
    }
    value = static_cast<uint8_t>(m_bytes[offset]);
    return true;
}

bool CHByteReader::U16(uint64_t offset, uint16_t& value) const {
    if (!Contains(offset, 2)) {
        return false;
    }
    auto b0 = static_cast<uint8_t>(m_bytes[offset]);
    auto b1 = static_cast<uint8_t>(m_bytes[offset + 1]);
    value = m_bigEndian ? static_cast<uint16_t>(b0 << 8 | b1) : static_cast<uint16_t>(b1 << 8 | b0);
    return true;
}

bool CHByteReader::U32(uint64_t offset, uint32_t& value) const {
    if (!Contains(offset, 4)) {
        return false;
    }
    uint32_t result = 0;
    for (int i = 0; i < 4; ++i) {
        int index = m_bigEndian ? i : 3 - i;
        result = result << 8 | static_cast<uint8_t>(m_bytes[offset + index]);
    }
    value = result;
    return true;
}

bool CHByteReader::Bytes(uint64_t offset, uint64_t length, std::string_view& out) const {
    if (!Contains(offset, length)) {
        return false;
    }
    out = m_bytes.substr(offset, length);
    return true;
}

bool CHByteReader::Matches(uint64_t offset, std::string_view tag) const {
    return Contains(offset, tag.size()) && m_bytes.substr(offset, tag.size()) == tag;
}
