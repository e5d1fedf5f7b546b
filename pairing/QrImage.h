#pragma once
// The symbol as pictures: a small greyscale image (one pixel per module), a PNG file of it, and
// a text drawing for terminals.

#include "pairing/CHQrEncoder.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

// Light modules around the symbol that readers need to find it.
inline constexpr int kQrQuietZone = 4;

// Opaque 8-bit greyscale, rows top to bottom: 0 for a dark module, 255 for a light module and the
// quiet zone. The image is already flat on white, so it reads the same on any background.
struct QrImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    uint8_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// (size + 8) x (size + 8) pixels with the symbol's module (x, y) at (x + 4, y + 4). Nothing when
// the text cannot be encoded (empty, or too long for version 40).
std::optional<QrImage> MakeQrImage(const std::string& text);
// The same picture of an already encoded symbol; empty (0 x 0) when it holds none.
QrImage MakeQrImage(const CHQrEncoder& symbol);

// Writes the image as a greyscale PNG, each pixel scaled up to scale x scale (1-64). False when
// the image is empty, the scale is out of range or the file cannot be written completely; no
// partial file is left behind.
bool WriteQrPng(const QrImage& image, const fs::path& file, int scale);

// The symbol for a terminal: two module rows per line, drawn with U+2580 (upper half), U+2584
// (lower half), U+2588 (full block) and spaces, with a 4-module quiet zone. The glyphs show
// light modules and spaces show dark ones, so the code reads correctly on the usual dark
// terminal background (light text on dark). Every line ends with '\n'. Empty for no symbol.
std::string RenderQrHalfBlocks(const CHQrEncoder& symbol);
