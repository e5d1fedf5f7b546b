#pragma once
// Real image files for tests: JPEGs encoded with libjpeg, optionally carrying an EXIF block
// with a date, camera make and model and an orientation.

#include <cstdint>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

struct TestExif {
    std::string dateTime; // "2013:05:01 08:30:00"; empty: no tag
    std::string make;     // empty: no tag
    std::string model;    // empty: no tag
    int orientation = 0;  // 0: no tag
};

struct TestJpegOptions {
    int width = 64;
    int height = 48;
    uint32_t seed = 1; // different seeds give different pixels, so different digests
    int quality = 85;
    // Random pixels (large files that hardly compress) instead of a smooth gradient.
    bool noise = false;
    bool withExif = false;
    TestExif exif;
};

// The encoded file; empty on failure.
std::string MakeTestJpeg(const TestJpegOptions& options);
// Writes MakeTestJpeg's bytes, creating parent folders. False on failure.
bool WriteTestJpeg(const fs::path& file, const TestJpegOptions& options);
// A noisy JPEG of roughly the given size in bytes (within about 10%).
std::string MakeTestJpegOfSize(int64_t bytes, uint32_t seed);
// The EXIF APP1 segment (marker, length, "Exif\0\0", little-endian TIFF) for the given tags.
std::string MakeExifSegment(const TestExif& exif);
// A valid one-bit grey PNG of width x height white pixels, compressed as far as deflate goes: a
// few dozen kilobytes that decode to width * height pixels (a decompression bomb).
std::string MakePngBomb(int width, int height);
