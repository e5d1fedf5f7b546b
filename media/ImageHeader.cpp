#include "media/ImageHeader.h"

#include "media/CHByteReader.h"
#include "media/CHHeifContainer.h"
#include "media/CHTiffReader.h"

#include <climits>
#include <cstdint>

using namespace std::string_view_literals;

namespace {

constexpr std::string_view kExifPrefix{"Exif\0\0", 6};
constexpr std::string_view kPngSignature{"\x89PNG\r\n\x1a\n", 8};

bool SetSize(ImageHeader& header, int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > INT_MAX || height > INT_MAX) {
        return false;
    }
    header.width = static_cast<int>(width);
    header.height = static_cast<int>(height);
    return true;
}

bool IsStartOfFrame(uint8_t marker) {
    // C4 (DHT), C8 (JPG) and CC (DAC) share the range but are not frame headers.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool IsStandaloneMarker(uint8_t marker) {
    return marker == 0x00 || marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7);
}

// Walks the segments from SOI up to the first frame header, picking up the first APP1 "Exif".
bool ReadJpeg(const CHByteReader& reader, std::string_view bytes, ImageHeader& header) {
    uint64_t pos = 2;
    for (;;) {
        uint8_t byte = 0;
        if (!reader.U8(pos, byte)) {
            header.needsMoreBytes = true;
            return false;
        }
        if (byte != 0xFF) {
            // Stray bytes between segments are skipped, as decoders do.
            ++pos;
            continue;
        }
        uint8_t marker = 0xFF;
        while (marker == 0xFF) {
            if (!reader.U8(pos + 1, marker)) {
                header.needsMoreBytes = true;
                return false;
            }
            if (marker == 0xFF) {
                ++pos;
            }
        }
        pos += 2;
        if (IsStandaloneMarker(marker)) {
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) {
            return false; // image data or the end without a frame header
        }
        uint16_t length = 0;
        if (!reader.U16(pos, length)) {
            header.needsMoreBytes = true;
            return false;
        }
        if (length < 2) {
            return false;
        }
        uint64_t data = pos + 2;
        uint64_t dataLength = length - 2u;
        if (IsStartOfFrame(marker)) {
            uint16_t height = 0;
            uint16_t width = 0;
            if (!reader.U16(data + 1, height) || !reader.U16(data + 3, width)) {
                header.needsMoreBytes = true;
                return false;
            }
            return SetSize(header, width, height);
        }
        if (marker == 0xE1 && header.exif.empty() && dataLength >= kExifPrefix.size() &&
            reader.Matches(data, kExifPrefix)) {
            if (!reader.Contains(data, dataLength)) {
                header.needsMoreBytes = true;
                return false;
            }
            header.exif = bytes.substr(data + kExifPrefix.size(), dataLength - kExifPrefix.size());
        }
        pos = data + dataLength;
    }
}

// IHDR must come first; the chunks up to the first IDAT are searched for eXIf.
bool ReadPng(const CHByteReader& reader, ImageHeader& header) {
    uint32_t width = 0;
    uint32_t height = 0;
    if (!reader.Matches(12, "IHDR") || !reader.U32(16, width) || !reader.U32(20, height)) {
        header.needsMoreBytes = !reader.Contains(0, 24);
        return false;
    }
    if (!SetSize(header, width, height)) {
        return false;
    }
    uint64_t pos = 8;
    for (;;) {
        uint32_t length = 0;
        std::string_view type;
        if (!reader.U32(pos, length) || !reader.Bytes(pos + 4, 4, type)) {
            header.needsMoreBytes = true;
            return true;
        }
        if (length > INT32_MAX || type == "IDAT" || type == "IEND") {
            return true;
        }
        if (type == "eXIf") {
            std::string_view data;
            if (!reader.Bytes(pos + 8, length, data)) {
                header.needsMoreBytes = true;
                return true;
            }
            // Some writers keep the JPEG marker's "Exif" prefix in the chunk.
            if (data.substr(0, kExifPrefix.size()) == kExifPrefix) {
                data.remove_prefix(kExifPrefix.size());
            }
            header.exif = data;
            return true;
        }
        pos += uint64_t{length} + 12;
    }
}

bool ReadGif(const CHByteReader& reader, ImageHeader& header) {
    uint16_t width = 0;
    uint16_t height = 0;
    if (!reader.U16(6, width) || !reader.U16(8, height)) {
        header.needsMoreBytes = true;
        return false;
    }
    return SetSize(header, width, height);
}

bool ReadBmp(const CHByteReader& reader, ImageHeader& header) {
    uint32_t infoSize = 0;
    if (!reader.U32(14, infoSize)) {
        header.needsMoreBytes = true;
        return false;
    }
    if (infoSize == 12) {
        // The old OS/2 header keeps 16-bit sides.
        uint16_t width = 0;
        uint16_t height = 0;
        if (!reader.U16(18, width) || !reader.U16(20, height)) {
            header.needsMoreBytes = true;
            return false;
        }
        return SetSize(header, width, height);
    }
    uint32_t width = 0;
    uint32_t height = 0;
    if (infoSize < 16 || !reader.U32(18, width) || !reader.U32(22, height)) {
        header.needsMoreBytes = infoSize >= 16;
        return false;
    }
    // A negative height marks rows stored top-down.
    int64_t signedHeight = static_cast<int32_t>(height);
    return SetSize(header, static_cast<int32_t>(width),
                   signedHeight < 0 ? -signedHeight : signedHeight);
}

bool ReadTiff(std::string_view bytes, ImageHeader& header) {
    CHTiffReader tiff;
    if (!tiff.ParseFirstIfd(bytes)) {
        header.needsMoreBytes = bytes.size() < 8;
        return false;
    }
    const CHTiffReader::Item* widthItem = tiff.Find(0x0100);
    const CHTiffReader::Item* heightItem = tiff.Find(0x0101);
    uint32_t width = 0;
    uint32_t height = 0;
    if (!widthItem || !heightItem || !widthItem->UnsignedValue(width) ||
        !heightItem->UnsignedValue(height)) {
        header.needsMoreBytes = tiff.Truncated();
        return false;
    }
    header.exif = bytes;
    return SetSize(header, width, height);
}

// The primary image's stored size from the container, and the Exif item wherever it lies.
bool ReadHeif(std::string_view bytes, ImageHeader& header) {
    CHHeifContainer container;
    CHHeifContainer::Status status = container.Parse(bytes, false);
    if (status != CHHeifContainer::Status::Ok) {
        header.needsMoreBytes = status == CHHeifContainer::Status::NeedMoreBytes;
        return false;
    }
    const CHHeifContainer::Item& primary = container.Primary();
    if (!SetSize(header, primary.width, primary.height)) {
        return false;
    }
    header.needsMoreBytes =
        container.ExifTiff(bytes, false, header.exif) == CHHeifContainer::Status::NeedMoreBytes;
    return true;
}

} // namespace

bool ReadImageHeader(std::string_view bytes, ImageHeader& header) {
    header = ImageHeader{};
    CHByteReader reader(bytes, true);
    if (reader.Matches(0, "\xFF\xD8")) {
        header.format = ImageFormat::Jpeg;
        return ReadJpeg(reader, bytes, header);
    }
    if (reader.Matches(0, kPngSignature)) {
        header.format = ImageFormat::Png;
        return ReadPng(reader, header);
    }
    if (reader.Matches(0, "II*\0"sv) || reader.Matches(0, "MM\0*"sv)) {
        header.format = ImageFormat::Tiff;
        return ReadTiff(bytes, header);
    }
    if (CHHeifContainer::HasHeifBrand(bytes)) {
        header.format = ImageFormat::Heif;
        return ReadHeif(bytes, header);
    }
    CHByteReader little(bytes, false);
    if (little.Matches(0, "GIF87a") || little.Matches(0, "GIF89a")) {
        header.format = ImageFormat::Gif;
        return ReadGif(little, header);
    }
    if (little.Matches(0, "BM")) {
        header.format = ImageFormat::Bmp;
        return ReadBmp(little, header);
    }
    // Too few bytes to tell the format: a signature, or a whole ftyp box with its brands.
    uint32_t ftypSize = 0;
    header.needsMoreBytes =
        bytes.size() < kPngSignature.size() ||
        (reader.Matches(4, "ftyp") && (!reader.U32(0, ftypSize) || ftypSize > bytes.size()));
    return false;
}

bool ReadImageSize(std::string_view bytes, int& width, int& height) {
    ImageHeader header;
    if (!ReadImageHeader(bytes, header)) {
        return false;
    }
    width = header.width;
    height = header.height;
    return true;
}
