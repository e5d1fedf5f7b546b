// Thumbnail decoding of hostile bytes: every format, every fitting rule, then the JPEG encoder
// on whatever came out. Inputs are plain image files; the box is picked from the input size.
#include "media/CHBitmap.h"
#include "media/CHImageDecoder.h"
#include "media/CHJpegDcDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Big declared sizes are refused by the same check at any limit; a lower one keeps the
    // fuzzer fast instead of spending its time filling huge blank images.
    CHBitmap::SetPixelLimit(4'000'000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // {2, 2} sends small JPEGs through the DC-only 1/8 path.
    static const int kBoxes[][2] = {{150, 150}, {160, 120}, {-1, 100}, {90, -1}, {0, 0}, {2, 2}};
    const auto& box = kBoxes[size % 6];
    CHBitmap thumb;
    if (thumb.DecodeThumbnail(data, size, box[0], box[1])) {
        std::string jpeg;
        thumb.EncodeJpeg(jpeg);
    }
    CHBitmap eighth;
    int width = 0;
    int height = 0;
    CHJpegDcDecoder::Decode(
        std::string_view(reinterpret_cast<const char*>(data), size),
        [](int w, int h) { return CHImageDecoder::SizeAllowed(w, h); }, eighth, width, height);
    if (size % 7 == 0) {
        CHBitmap full;
        full.LoadFromMemory(data, size);
    }
    return 0;
}
