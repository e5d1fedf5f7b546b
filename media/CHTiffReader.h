#pragma once
// Walks the directories of a TIFF structure (a TIFF file, or the EXIF block of a JPEG or PNG)
// and lists its entries by tag: IFD0 first, then the EXIF sub-IFD, then the GPS sub-IFD. When a
// tag occurs more than once the first occurrence in that order is kept. Values are views into the
// caller's bytes, so the bytes must outlive the reader.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

class CHTiffReader {
public:
    enum Type : uint16_t {
        kByte = 1,
        kAscii = 2,
        kShort = 3,
        kLong = 4,
        kRational = 5,
        kSByte = 6,
        kUndefined = 7,
        kSShort = 8,
        kSLong = 9,
        kSRational = 10,
        kFloat = 11,
        kDouble = 12,
        kIfd = 13,
    };
    static constexpr uint16_t kExifIfdTag = 0x8769;
    static constexpr uint16_t kGpsIfdTag = 0x8825;

    struct Item {
        uint16_t tag = 0;
        uint16_t type = 0;
        uint32_t count = 0;
        std::string_view value; // count values in the file's byte order
        bool bigEndian = false;

        // The first 16 bits of the value as if it had been converted to little-endian order,
        // whatever the type: the low half of a LONG, the first two bytes of a byte string.
        uint16_t ShortValue() const;
        // First numerator / first denominator, both signed 32-bit, for RATIONAL and SRATIONAL
        // items; 0 for any other type and for a zero denominator.
        float RationalValue() const;
        // The bytes up to the first zero.
        std::string_view TextBytes() const;
        // The first value of a BYTE, SHORT, LONG or IFD item; false for other types.
        bool UnsignedValue(uint32_t& value) const;
    };

    // False when the bytes do not start with a TIFF header. Entries whose values lie outside
    // the bytes are left out.
    bool Parse(std::string_view tiff);
    // Only the first directory (enough for a TIFF image's size).
    bool ParseFirstIfd(std::string_view tiff);

    // Null when the tag is not present.
    const Item* Find(uint16_t tag) const;
    const std::vector<Item>& Items() const { return m_items; }
    // True when a directory or value offset pointed past the end of the bytes: with a file read
    // only in part, more of it may hold what is missing.
    bool Truncated() const { return m_truncated; }

    static uint32_t TypeSize(uint16_t type);

private:
    bool ParseHeader(std::string_view tiff, uint32_t& firstIfd);
    void ReadIfd(uint32_t offset, bool followSubIfds);
    void SortByTag();

    std::string_view m_bytes;
    bool m_bigEndian = false;
    bool m_truncated = false;
    // IFD0 and its two sub-directories at most.
    std::array<uint32_t, 3> m_visited{};
    size_t m_visitedCount = 0;
    std::vector<Item> m_items;
};
