#include "tests/support/TestBitmaps.h"

#include "media/CHJpegEncoder.h"
#include "tests/support/TestImages.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <fstream>
#include <iterator>
#include <jpeglib.h>

extern char** environ;

namespace {

uint32_t Channel(double v) {
    return static_cast<uint32_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

} // namespace

CHBitmap MakePhotoBitmap(int width, int height, uint32_t seed) {
    CHBitmap bitmap;
    if (!bitmap.Create(width, height, 24)) {
        return bitmap;
    }
    uint32_t state = seed * 2654435761u + 12345;
    auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 24) / 255.0 - 0.5;
    };
    const double phase = seed * 0.7;
    for (int y = 0; y < height; ++y) {
        uint32_t* row = bitmap.Row(y);
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            // Sky-to-ground gradient, a warm blob in the upper left, a cool one lower right.
            double r = 40 + 150 * u +
                       60 * std::exp(-((u - 0.25) * (u - 0.25) + (v - 0.2) * (v - 0.2)) * 30);
            double g = 60 + 120 * v * (1 - u) + 40 * std::sin(6 * u + phase);
            double b = 200 - 140 * v +
                       70 * std::exp(-((u - 0.75) * (u - 0.75) + (v - 0.7) * (v - 0.7)) * 20);
            // A dark bar in the left third, a bright block near the bottom.
            if (u > 0.12 && u < 0.18 && v > 0.3) {
                r *= 0.3;
                g *= 0.3;
                b *= 0.3;
            }
            if (u > 0.55 && u < 0.85 && v > 0.82 && v < 0.92) {
                r = 240;
                g = 230;
                b = 90;
            }
            const double grain = 6 * noise();
            row[x] = 0xFF000000u | Channel(r + grain) << 16 | Channel(g + grain) << 8 |
                     Channel(b + grain);
        }
    }
    return bitmap;
}

CHBitmap MakeSolidBitmap(int width, int height, uint32_t argb, int bitsPerPixel) {
    CHBitmap bitmap;
    if (bitmap.Create(width, height, bitsPerPixel)) {
        for (int y = 0; y < height; ++y) {
            uint32_t* row = bitmap.Row(y);
            for (int x = 0; x < width; ++x) {
                row[x] = argb;
            }
        }
    }
    return bitmap;
}

std::string EncodeJpegAt(const CHBitmap& bitmap, int quality) {
    std::string out;
    CHJpegEncoder::Encode(bitmap, quality, out);
    return out;
}

std::string EncodeJpegLayout(const CHBitmap& bitmap, const JpegLayout& layout) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(bitmap.Width());
    cinfo.image_height = static_cast<JDIMENSION>(bitmap.Height());
    cinfo.input_components = layout.grey ? 1 : 3;
    cinfo.in_color_space = layout.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, layout.quality, TRUE);
    if (!layout.grey) {
        cinfo.comp_info[0].h_samp_factor = layout.lumaH;
        cinfo.comp_info[0].v_samp_factor = layout.lumaV;
    }
    cinfo.restart_interval = static_cast<unsigned>(layout.restartInterval);
    cinfo.optimize_coding = layout.optimize ? TRUE : FALSE;
    if (layout.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(bitmap.Width()) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint32_t* in = bitmap.Row(static_cast<int>(cinfo.next_scanline));
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t p = in[x];
            if (layout.grey) {
                row[size_t(x)] = static_cast<unsigned char>(
                    (((p >> 16) & 0xFF) * 299 + ((p >> 8) & 0xFF) * 587 + (p & 0xFF) * 114) / 1000);
            } else {
                row[size_t(x) * 3] = static_cast<unsigned char>(p >> 16);
                row[size_t(x) * 3 + 1] = static_cast<unsigned char>(p >> 8);
                row[size_t(x) * 3 + 2] = static_cast<unsigned char>(p);
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::string out(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

std::string WithOrientation(const std::string& jpeg, int orientation) {
    if (jpeg.size() < 2) {
        return jpeg;
    }
    TestExif exif;
    exif.orientation = orientation;
    return jpeg.substr(0, 2) + MakeExifSegment(exif) + jpeg.substr(2);
}

std::string ImageMagickConvert() {
    static const std::string path = [] {
        for (const char* candidate : {"/usr/bin/convert", "/usr/local/bin/convert"}) {
            if (access(candidate, X_OK) == 0) {
                return std::string(candidate);
            }
        }
        return std::string();
    }();
    return path;
}

bool RunConvert(const std::vector<std::string>& args) {
    const std::string program = ImageMagickConvert();
    if (program.empty()) {
        return false;
    }
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ReadPpm(const fs::path& file, CHBitmap& out) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int width = 0;
    int height = 0;
    int maxval = 0;
    if (!(in >> magic >> width >> height >> maxval) || magic != "P6" || maxval != 255) {
        return false;
    }
    in.get();
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < size_t(width) * height * 3 || !out.Create(width, height, 24)) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data.data());
    for (int y = 0; y < height; ++y) {
        uint32_t* row = out.Row(y);
        for (int x = 0; x < width; ++x, p += 3) {
            row[x] = 0xFF000000u | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        }
    }
    return true;
}

double Rmse(const CHBitmap& a, int ax, int ay, const CHBitmap& b, int bx, int by, int w, int h) {
    double sum = 0;
    size_t n = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint32_t p = a.Pixel(ax + x, ay + y);
            uint32_t q = b.Pixel(bx + x, by + y);
            for (int shift = 0; shift < 24; shift += 8) {
                double d = double((p >> shift) & 0xFF) - double((q >> shift) & 0xFF);
                sum += d * d;
                ++n;
            }
        }
    }
    return n == 0 ? 1.0 : std::sqrt(sum / n) / 255.0;
}
