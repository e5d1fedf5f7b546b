#pragma once
// Bounds-checked reads of integers and byte ranges at absolute offsets in a byte buffer.
// Every read reports failure instead of touching memory outside the buffer.

#include <cstdint>
#include <string_view>

class CHByteReader {
public:
    explicit CHByteReader(std::string_view bytes, bool bigEndian = false)
        : m_bytes(bytes), m_bigEndian(bigEndian) {}

    uint64_t Size() const { return m_bytes.size(); }
    bool BigEndian() const { return m_bigEndian; }
    void SetBigEndian(bool bigEndian) { m_bigEndian = bigEndian; }

    // True when [offset, offset + length) lies inside the buffer; no overflow for any input.
    bool Contains(uint64_t offset, uint64_t length) const;

    bool U8(uint64_t offset, uint8_t& value) const;
    bool U16(uint64_t offset, uint16_t& value) const;
    bool U32(uint64_t offset, uint32_t& value) const;
    bool Bytes(uint64_t offset, uint64_t length, std::string_view& out) const;
    // True when the buffer holds exactly `tag` at offset.
    bool Matches(uint64_t offset, std::string_view tag) const;

private:
    std::string_view m_bytes;
    bool m_bigEndian;
};
