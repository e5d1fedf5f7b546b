// Thumbnail decoding of hostile bytes: every format, every fitting rule, then the JPEG encoder
// on whatever came out. Inputs are plain image files; the box is picked from the input size.
#include "media/CHBitmap.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Big declared sizes are refused by the same check at any limit; a lower one keeps the
    // fuzzer fast instead of spending its time filling huge blank images.
    CHBitmap::SetPixelLimit(4'000'000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int kBoxes[][2] = {{150, 150}, {160, 120}, {-1, 100}, {90, -1}, {0, 0}};
    const auto& box = kBoxes[size % 5];
    CHBitmap thumb;
    if (thumb.DecodeThumbnail(data, size, box[0], box[1])) {
        std::string jpeg;
        thumb.EncodeJpeg(jpeg);
    }
    if (size % 7 == 0) {
        CHBitmap full;
        full.LoadFromMemory(data, size);
    }
    return 0;
}
