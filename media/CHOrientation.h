#pragma once
// EXIF orientation (tag 0x0112): reading it from a JPEG's APP1 block or a TIFF structure, and
// turning a bitmap stored in that orientation upright.
//   2 mirror left-right   3 rotate 180       4 mirror top-bottom   5 transpose
//   6 rotate 90 clockwise 7 transverse       8 rotate 90 counter-clockwise

#include "media/CHBitmap.h"

#include <string_view>

class CHOrientation {
public:
    // 1..8; 1 when the JPEG has no EXIF block, no orientation or a value outside 1..8.
    static int FromJpeg(std::string_view jpeg);
    // From a TIFF structure (byte-order mark, IFD0); 1 when absent or invalid.
    static int FromTiff(std::string_view tiff);
    // True for the orientations that swap width and height.
    static bool SwapsAxes(int orientation) { return orientation >= 5 && orientation <= 8; }
    // dst becomes src turned upright. Orientation 1 (or any unknown value) copies.
    static bool Apply(const CHBitmap& src, int orientation, CHBitmap& dst);
};
