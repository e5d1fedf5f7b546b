#pragma once
// A cheap structural check that an image file arrived whole, run before a photo is stored: a
// JPEG must have its header segments complete and an end-of-image marker after its scan data,
// or, lacking the marker, scan data that holds every block (bytes after the marker are fine);
// a PNG must reach its IEND chunk; a HEIF file's boxes must end at the file's end, with every
// item's data inside it. Other formats are left to the EXIF reader's own checks.

#include <filesystem>

bool IsCompleteImageFile(const std::filesystem::path& file);
