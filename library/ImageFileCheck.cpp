#include "library/ImageFileCheck.h"

#include "media/CHHeifContainer.h"
#include "media/CHJpegDcDecoder.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool ReadAt(FILE* file, int64_t offset, void* out, size_t length) {
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fread(out, 1, length, file) == length;
}

// Looks for the bytes FF D9 from offset on. Scan data escapes every FF it holds (FF 00, or a
// restart marker), so the pair only appears where the image ends.
bool HasEndMarkerFrom(FILE* file, int64_t offset, int64_t size) {
    // Most files end with it: look at the tail first.
    unsigned char tail[2];
    if (size - 2 >= offset && ReadAt(file, size - 2, tail, 2) && tail[0] == 0xFF &&
        tail[1] == 0xD9) {
        return true;
    }
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        return false;
    }
    std::vector<unsigned char> buffer(1 << 20);
    bool previousFF = false;
    size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        if (previousFF && buffer[0] == 0xD9) {
            return true;
        }
        const unsigned char* at = buffer.data();
        const unsigned char* end = buffer.data() + got;
        while ((at = static_cast<const unsigned char*>(std::memchr(at, 0xFF, end - at)))) {
            if (at + 1 < end && at[1] == 0xD9) {
                return true;
            }
            ++at;
        }
        previousFF = buffer[got - 1] == 0xFF;
    }
    return false;
}

// Offset of the next 0xFF byte at or after offset; -1 when there is none.
int64_t NextFF(FILE* file, int64_t offset, int64_t size) {
    unsigned char chunk[4096];
    while (offset < size) {
        size_t want = static_cast<size_t>(std::min<int64_t>(sizeof chunk, size - offset));
        if (!ReadAt(file, offset, chunk, want)) {
            return -1;
        }
        if (const void* ff = std::memchr(chunk, 0xFF, want)) {
            return offset + (static_cast<const unsigned char*>(ff) - chunk);
        }
        offset += static_cast<int64_t>(want);
    }
    return -1;
}

// Phones write some JPEGs without the end marker; decoders show them whole as long as the scan
// data holds every block. Known only for the common single-scan form: a sequential JPEG is
// decoded as far as its blocks' DC values, which steps over every coded coefficient.
bool HasEveryBlock(const std::filesystem::path& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        return false;
    }
    CHBitmap dc;
    int width = 0;
    int height = 0;
    return CHJpegDcDecoder::Decode(
        bytes, [](int, int) { return true; }, dc, width, height);
}

bool IsCompleteJpeg(FILE* file, int64_t size, const std::filesystem::path& path) {
    int64_t at = 2; // after SOI
    for (;;) {
        unsigned char marker[2];
        if (!ReadAt(file, at, marker, 2)) {
            return false;
        }
        if (marker[0] != 0xFF) {
            // Stray bytes between segments: decoders skip them, and so does this walk.
            at = NextFF(file, at, size);
            if (at < 0) {
                return false;
            }
            continue;
        }
        if (marker[1] == 0xFF) { // fill byte
            ++at;
            continue;
        }
        at += 2;
        if (marker[1] == 0xD9) {
            return true; // an image without scan data ends here; the reader decides on it
        }
        if (marker[1] == 0x01 || (marker[1] >= 0xD0 && marker[1] <= 0xD7)) {
            continue; // markers without a length
        }
        unsigned char length[2];
        if (!ReadAt(file, at, length, 2)) {
            return false;
        }
        int64_t segment = (int64_t{length[0]} << 8) | length[1];
        if (segment < 2 || at + segment > size) {
            return false;
        }
        at += segment;
        if (marker[1] == 0xDA) { // start of scan: the entropy-coded data follows
            return HasEndMarkerFrom(file, at, size) || HasEveryBlock(path);
        }
    }
}

uint32_t BigEndian32(const unsigned char* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           bytes[3];
}

bool IsCompletePng(FILE* file, int64_t size) {
    int64_t at = 8;
    for (;;) {
        unsigned char head[8];
        if (!ReadAt(file, at, head, 8)) {
            return false;
        }
        int64_t chunk = 12 + int64_t{BigEndian32(head)};
        if (at + chunk > size) {
            return false;
        }
        if (std::memcmp(head + 4, "IEND", 4) == 0) {
            return true;
        }
        at += chunk;
    }
}

// The ftyp box with its brands sits at the start; writers keep it short.
constexpr size_t kHeifBrandBytes = 256;
// The meta box with the item tables; far larger than any camera's.
constexpr int64_t kMaxHeifMetaEnd = 256 << 20;

// A HEIF file arrived whole when its top-level boxes end exactly at the file's end, its item
// tables read cleanly and every item's data lies inside the file.
bool IsCompleteHeif(FILE* file, int64_t size) {
    int64_t metaEnd = 0;
    for (int64_t at = 0; at < size;) {
        unsigned char head[16];
        if (size - at < 8 || !ReadAt(file, at, head, 8)) {
            return false;
        }
        uint64_t box = BigEndian32(head);
        if (box == 1) {
            if (!ReadAt(file, at + 8, head + 8, 8)) {
                return false;
            }
            box = uint64_t{BigEndian32(head + 8)} << 32 | BigEndian32(head + 12);
        } else if (box == 0) {
            box = static_cast<uint64_t>(size - at);
        }
        if (box < 8 || box > static_cast<uint64_t>(size - at)) {
            return false;
        }
        if (std::memcmp(head + 4, "meta", 4) == 0) {
            metaEnd = at + static_cast<int64_t>(box);
        }
        at += static_cast<int64_t>(box);
    }
    if (metaEnd == 0 || metaEnd > kMaxHeifMetaEnd) {
        return false;
    }
    std::string start(static_cast<size_t>(metaEnd), '\0');
    CHHeifContainer container;
    return ReadAt(file, 0, start.data(), start.size()) &&
           container.Parse(start, false) == CHHeifContainer::Status::Ok &&
           container.DataEnd() <= static_cast<uint64_t>(size);
}

} // namespace

bool IsCompleteImageFile(const std::filesystem::path& file) {
    FilePtr handle(std::fopen(file.c_str(), "rb"));
    if (!handle) {
        return false;
    }
    if (fseeko(handle.get(), 0, SEEK_END) != 0) {
        return false;
    }
    int64_t size = ftello(handle.get());
    unsigned char magic[8] = {};
    if (size < 8 || !ReadAt(handle.get(), 0, magic, sizeof magic)) {
        return false; // shorter than any image header
    }
    if (magic[0] == 0xFF && magic[1] == 0xD8) {
        return IsCompleteJpeg(handle.get(), size, file);
    }
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (std::memcmp(magic, kPng, 8) == 0) {
        return IsCompletePng(handle.get(), size);
    }
    std::string brands(static_cast<size_t>(std::min<int64_t>(size, kHeifBrandBytes)), '\0');
    if (ReadAt(handle.get(), 0, brands.data(), brands.size()) &&
        CHHeifContainer::HasHeifBrand(brands)) {
        return IsCompleteHeif(handle.get(), size);
    }
    return true;
}
