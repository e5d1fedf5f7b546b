#pragma once
// Image width and height read from the file headers alone (JPEG, PNG, GIF, BMP, TIFF, and HEIF
// or AVIF recognised by their brand), never by decoding pixels, together with where the file
// keeps its EXIF block.

#include <string_view>

enum class ImageFormat { Unknown, Jpeg, Png, Gif, Bmp, Tiff, Heif };

struct ImageHeader {
    ImageFormat format = ImageFormat::Unknown;
    int width = 0;
    int height = 0;
    // The TIFF structure that holds the EXIF: a JPEG's APP1 "Exif" payload, a PNG's eXIf chunk,
    // a whole TIFF file, a HEIF file's Exif item. Empty when there is none. A view into the
    // caller's bytes.
    std::string_view exif;
    // The bytes ended before the size or the EXIF block was found: when they are only the start
    // of a longer file, reading more of it may find them.
    bool needsMoreBytes = false;
};

// True when the size was read (both sides at least 1). The EXIF block is looked for only where
// the format keeps it before the image data (JPEG: before the frame header; PNG: before IDAT).
// A HEIF file's size is that of its primary image as stored (ispe), before its own rotation.
bool ReadImageHeader(std::string_view bytes, ImageHeader& header);
// Width and height only; width and height are left alone on failure.
bool ReadImageSize(std::string_view bytes, int& width, int& height);
