// Feeds arbitrary bytes to the HEIF container reader, as a whole file and as the start of one.
// Beyond the sanitizers' checks: a whole file that reads cleanly has a sized primary image, all
// item data inside it and an EXIF view inside its bytes, and reads the same as the start of a
// file; the image-header reader agrees on the format.
#include "media/CHHeifContainer.h"
#include "media/ImageHeader.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool Inside(std::string_view part, std::string_view whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    using Status = CHHeifContainer::Status;

    CHHeifContainer whole;
    const Status status = whole.Parse(bytes, true);
    if (status == Status::NeedMoreBytes) {
        std::abort(); // a whole file never asks for more
    }
    if (status == Status::Ok) {
        if (whole.Primary().width == 0 || whole.Primary().height == 0 ||
            whole.DataEnd() > bytes.size()) {
            std::abort();
        }
        for (const CHHeifContainer::Item* thumb : whole.Thumbnails()) {
            if (thumb == nullptr || thumb->width == 0 || thumb->height == 0) {
                std::abort();
            }
        }
        std::string_view tiff;
        if (whole.ExifTiff(bytes, true, tiff) != Status::Ok || !Inside(tiff, bytes)) {
            std::abort();
        }
        CHHeifContainer start;
        if (start.Parse(bytes, false) != Status::Ok ||
            start.Primary().width != whole.Primary().width) {
            std::abort();
        }
    }
    ImageHeader header;
    ReadImageHeader(bytes, header);
    if (header.format == ImageFormat::Heif && !CHHeifContainer::HasHeifBrand(bytes)) {
        std::abort();
    }
    if (!Inside(header.exif, bytes)) {
        std::abort();
    }
    return 0;
}
