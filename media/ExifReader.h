#pragma once
// Reads a photo's EXIF object (JPEG APP1, TIFF, PNG eXIf) with our own bounds-checked reader.

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <string_view>

// Fills exif (an object) for an image file; false when the file is not an image we can read
// (its size cannot be read from its headers). "TakenTime" is always present on success.
bool ReadExif(const std::filesystem::path& file, Json::Value& exif);
// The same over bytes in memory; fileTime is used when the EXIF has no date.
bool ReadExifFromMemory(std::string_view bytes, int64_t fileTime, Json::Value& exif);
