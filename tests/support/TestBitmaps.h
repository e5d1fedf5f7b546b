#pragma once
// Bitmaps and image files for the imaging tests: photo-like synthetic content, EXIF
// orientation, ImageMagick as an independent reference, and pixel comparisons.

#include "media/CHBitmap.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Smooth gradients, soft blobs, a few hard edges and some grain; no symmetry, so a wrong
// rotation or mirror shows.
CHBitmap MakePhotoBitmap(int width, int height, uint32_t seed = 1);
// Every pixel the same (0xAARRGGBB, premultiplied when bitsPerPixel is 32).
CHBitmap MakeSolidBitmap(int width, int height, uint32_t argb, int bitsPerPixel = 24);
// JPEG bytes of a bitmap at the given quality.
std::string EncodeJpegAt(const CHBitmap& bitmap, int quality);
// JPEG bytes written with libjpeg's own encoder and chosen structure.
struct JpegLayout {
    int quality = 90;
    int lumaH = 2; // luma sampling factors (chroma is always 1 x 1)
    int lumaV = 2;
    int restartInterval = 0; // in MCUs
    bool grey = false;
    bool progressive = false;
    bool optimize = false; // image-specific Huffman tables
};
std::string EncodeJpegLayout(const CHBitmap& bitmap, const JpegLayout& layout);
// The JPEG with an EXIF block carrying only the orientation, right after the start marker.
std::string WithOrientation(const std::string& jpeg, int orientation);

// The ImageMagick convert program, found once; empty when not installed.
std::string ImageMagickConvert();
// Runs convert with the arguments (no shell); true when it exited with 0.
bool RunConvert(const std::vector<std::string>& args);
// Reads a binary PPM (P6, maxval 255) into a 24-bit bitmap.
bool ReadPpm(const fs::path& file, CHBitmap& out);

// Root-mean-square difference of the colour channels over a w x h window, on a 0..1 scale.
double Rmse(const CHBitmap& a, int ax, int ay, const CHBitmap& b, int bx, int by, int w, int h);
