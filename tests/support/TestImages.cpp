#include "tests/support/TestImages.h"

#include "tests/support/TestDirs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>

#include <csetjmp>
#include <vector>

namespace {

// xorshift32: quick, deterministic pixels.
uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void Put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string EncodeJpeg(const TestJpegOptions& options) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(options.width);
    cinfo.image_height = static_cast<JDIMENSION>(options.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(options.width) * 3);
    uint32_t state = options.seed * 2654435761u + 1;
    if (state == 0) {
        state = 1;
    }
    for (int y = 0; y < options.height; ++y) {
        for (int x = 0; x < options.width; ++x) {
            JSAMPLE* pixel = &row[static_cast<size_t>(x) * 3];
            if (options.noise) {
                uint32_t r = NextRandom(state);
                pixel[0] = static_cast<JSAMPLE>(r);
                pixel[1] = static_cast<JSAMPLE>(r >> 8);
                pixel[2] = static_cast<JSAMPLE>(r >> 16);
            } else {
                pixel[0] = static_cast<JSAMPLE>((x * 255) / std::max(1, options.width - 1));
                pixel[1] = static_cast<JSAMPLE>((y * 255) / std::max(1, options.height - 1));
                pixel[2] = static_cast<JSAMPLE>((options.seed * 37) & 0xFF);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

} // namespace

std::string MakeExifSegment(const TestExif& exif) {
    struct Entry {
        uint16_t tag;
        uint16_t type; // 2 ASCII, 3 SHORT
        std::string ascii;
        uint16_t value;
    };
    std::vector<Entry> entries;
    if (!exif.make.empty()) {
        entries.push_back({0x010F, 2, exif.make, 0});
    }
    if (!exif.model.empty()) {
        entries.push_back({0x0110, 2, exif.model, 0});
    }
    if (exif.orientation != 0) {
        entries.push_back({0x0112, 3, "", static_cast<uint16_t>(exif.orientation)});
    }
    if (!exif.dateTime.empty()) {
        entries.push_back({0x0132, 2, exif.dateTime, 0});
    }
    std::string tiff = "II";
    Put16(tiff, 42);
    Put32(tiff, 8);
    const uint32_t ifdSize = 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
    uint32_t dataOffset = 8 + ifdSize;
    std::string data;
    Put16(tiff, static_cast<uint16_t>(entries.size()));
    for (const Entry& entry : entries) {
        Put16(tiff, entry.tag);
        Put16(tiff, entry.type);
        if (entry.type == 3) {
            Put32(tiff, 1);
            Put16(tiff, entry.value);
            Put16(tiff, 0);
            continue;
        }
        std::string text = entry.ascii + '\0';
        Put32(tiff, static_cast<uint32_t>(text.size()));
        if (text.size() <= 4) {
            text.resize(4, '\0');
            tiff += text;
        } else {
            Put32(tiff, dataOffset + static_cast<uint32_t>(data.size()));
            data += text;
            if (data.size() % 2 != 0) {
                data += '\0';
            }
        }
    }
    Put32(tiff, 0); // no next IFD
    tiff += data;
    std::string payload = std::string("Exif\0\0", 6) + tiff;
    std::string segment = "\xFF\xE1";
    const size_t length = payload.size() + 2;
    segment += static_cast<char>((length >> 8) & 0xFF);
    segment += static_cast<char>(length & 0xFF);
    return segment + payload;
}

std::string MakeTestJpeg(const TestJpegOptions& options) {
    std::string jpeg = EncodeJpeg(options);
    if (jpeg.size() < 2 || !options.withExif) {
        return jpeg;
    }
    // Right after SOI, where cameras put it.
    return jpeg.substr(0, 2) + MakeExifSegment(options.exif) + jpeg.substr(2);
}

bool WriteTestJpeg(const fs::path& file, const TestJpegOptions& options) {
    std::string bytes = MakeTestJpeg(options);
    return !bytes.empty() && WriteTestFile(file, bytes);
}

std::string MakeTestJpegOfSize(int64_t bytes, uint32_t seed) {
    // Noise at quality 90 costs about 2.4 bytes per pixel; measure a sample and scale.
    TestJpegOptions options;
    options.noise = true;
    options.quality = 90;
    options.seed = seed;
    options.width = 256;
    options.height = 256;
    const double perPixel = static_cast<double>(MakeTestJpeg(options).size()) / (256.0 * 256.0);
    const double pixels = static_cast<double>(bytes) / perPixel;
    options.width = std::max(16, static_cast<int>(std::sqrt(pixels * 4.0 / 3.0)) / 16 * 16);
    options.height = std::max(16, static_cast<int>(pixels / options.width));
    return MakeTestJpeg(options);
}

namespace {

void AppendToString(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), length);
}

} // namespace

std::string MakePngBomb(int width, int height) {
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, AppendToString, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 1,
                 PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_set_filter(png, 0, PNG_FILTER_NONE);
    png_write_info(png, info);
    std::vector<png_byte> row(static_cast<size_t>(width + 7) / 8, 0xFF);
    for (int y = 0; y < height; ++y) {
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}
