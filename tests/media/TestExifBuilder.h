#pragma once
// Test-only builders: TIFF/EXIF structures laid out byte by byte, and the smallest JPEG and PNG
// files that carry them, so that each case states exactly the bytes it feeds the reader.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TiffBuilder {
public:
    enum Ifd { kIfd0, kExifIfd, kGpsIfd };

    explicit TiffBuilder(bool bigEndian = false) : m_bigEndian(bigEndian) {}

    // value holds the entry's bytes already in the file's byte order.
    TiffBuilder& Entry(Ifd ifd, uint16_t tag, uint16_t type, uint32_t count, std::string value) {
        m_entries.push_back({ifd, tag, type, count, std::move(value)});
        return *this;
    }
    TiffBuilder& Ascii(uint16_t tag, std::string_view text, Ifd ifd = kIfd0) {
        std::string value(text);
        value.push_back('\0');
        auto count = static_cast<uint32_t>(value.size());
        return Entry(ifd, tag, 2, count, std::move(value));
    }
    TiffBuilder& Short(uint16_t tag, uint16_t value, Ifd ifd = kIfd0) {
        return Entry(ifd, tag, 3, 1, U16(value));
    }
    TiffBuilder& Long(uint16_t tag, uint32_t value, Ifd ifd = kIfd0) {
        return Entry(ifd, tag, 4, 1, U32(value));
    }
    TiffBuilder& Rational(uint16_t tag, uint32_t numerator, uint32_t denominator,
                          Ifd ifd = kExifIfd, uint16_t type = 5) {
        return Entry(ifd, tag, type, 1, U32(numerator) + U32(denominator));
    }

    std::string U16(uint16_t value) const {
        char b[2] = {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
        return m_bigEndian ? std::string{b[1], b[0]} : std::string{b[0], b[1]};
    }
    std::string U32(uint32_t value) const {
        std::string out;
        for (int i = 0; i < 4; ++i) {
            int shift = m_bigEndian ? 24 - 8 * i : 8 * i;
            out.push_back(static_cast<char>((value >> shift) & 0xFF));
        }
        return out;
    }

    // Header, IFD0 at offset 8, then the EXIF and GPS directories (pointed to from IFD0 when
    // they have entries), then the values longer than four bytes.
    std::string Build() const {
        std::vector<Item> ifds[3];
        for (const Item& e : m_entries) {
            ifds[e.ifd].push_back(e);
        }
        auto dirSize = [](size_t n) { return static_cast<uint32_t>(2 + 12 * n + 4); };
        size_t ifd0Count = ifds[kIfd0].size() + !ifds[kExifIfd].empty() + !ifds[kGpsIfd].empty();
        uint32_t exifOffset = 8 + dirSize(ifd0Count);
        uint32_t gpsOffset = exifOffset + (ifds[kExifIfd].empty() ? 0 : dirSize(ifds[1].size()));
        uint32_t dataOffset = gpsOffset + (ifds[kGpsIfd].empty() ? 0 : dirSize(ifds[2].size()));
        if (!ifds[kExifIfd].empty()) {
            ifds[kIfd0].push_back({kIfd0, 0x8769, 4, 1, U32(exifOffset)});
        }
        if (!ifds[kGpsIfd].empty()) {
            ifds[kIfd0].push_back({kIfd0, 0x8825, 4, 1, U32(gpsOffset)});
        }
        std::string out = m_bigEndian ? std::string("MM\0*", 4) : std::string("II*\0", 4);
        out += U32(8);
        std::string data;
        for (const auto& ifd : ifds) {
            if (ifd.empty() && &ifd != &ifds[kIfd0]) {
                continue;
            }
            out += U16(static_cast<uint16_t>(ifd.size()));
            for (const Item& e : ifd) {
                out += U16(e.tag) + U16(e.type) + U32(e.count);
                if (e.value.size() <= 4) {
                    out += e.value + std::string(4 - e.value.size(), '\0');
                } else {
                    out += U32(static_cast<uint32_t>(dataOffset + data.size()));
                    data += e.value;
                    if (data.size() % 2) {
                        data.push_back('\0');
                    }
                }
            }
            out += U32(0);
        }
        return out + data;
    }

private:
    struct Item {
        Ifd ifd;
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        std::string value;
    };
    bool m_bigEndian;
    std::vector<Item> m_entries;
};

inline std::string BigEndian16(int value) {
    return {static_cast<char>((value >> 8) & 0xFF), static_cast<char>(value & 0xFF)};
}

inline std::string JpegSegment(uint8_t marker, std::string_view payload) {
    return std::string{'\xFF', static_cast<char>(marker)} +
           BigEndian16(static_cast<int>(payload.size() + 2)) + std::string(payload);
}

// Baseline frame header of three components; the reader needs nothing after it.
inline std::string JpegFrameHeader(int width, int height, uint8_t marker = 0xC0) {
    std::string frame = std::string(1, '\x08') + BigEndian16(height) + BigEndian16(width) + '\x03';
    frame += std::string("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9);
    return JpegSegment(marker, frame);
}

// SOI, an APP1 "Exif" segment when tiff is not empty, extra segments, the frame header, EOI.
inline std::string JpegWithExif(std::string_view tiff, int width, int height,
                                std::string_view extraSegments = {}) {
    std::string out("\xFF\xD8", 2);
    if (!tiff.empty()) {
        out += JpegSegment(0xE1, std::string("Exif\0\0", 6) + std::string(tiff));
    }
    out += extraSegments;
    out += JpegFrameHeader(width, height);
    return out + "\xFF\xD9";
}

inline std::string PngChunk(std::string_view type, std::string_view data) {
    uint32_t n = static_cast<uint32_t>(data.size());
    std::string out{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                    static_cast<char>(n >> 8), static_cast<char>(n)};
    // The reader does not check CRCs; four zero bytes stand in for them.
    return out + std::string(type) + std::string(data) + std::string(4, '\0');
}

inline std::string PngWithExif(std::string_view tiff, int width, int height) {
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    std::string out("\x89PNG\r\n\x1a\n", 8);
    out += PngChunk("IHDR", be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5));
    if (!tiff.empty()) {
        out += PngChunk("eXIf", tiff);
    }
    out += PngChunk("IDAT", "x");
    return out + PngChunk("IEND", "");
}

// Zones as POSIX rules, so that no zone database needs to be installed: China's fixed UTC+8,
// and Central Europe with its summer time from the last Sunday of March to that of October.
inline constexpr const char* kShanghai = "CST-8";
inline constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
inline constexpr const char* kUtc = "UTC0";

// Sets TZ for the lifetime of the object and restores the previous value.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_previous = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_previous) {
            setenv("TZ", m_previous->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::optional<std::string> m_previous;
};
