// Feeds arbitrary bytes to the image-header and EXIF readers. Beyond the sanitizers' checks, a
// successful read must give an object whose texts are valid UTF-8 and that always holds the size
// and the taken time.
#include "media/ExifReader.h"
#include "media/ImageHeader.h"
#include "media/JsonText.h"
#include "media/TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);

    int width = 0;
    int height = 0;
    bool sized = ReadImageSize(bytes, width, height);
    if (sized && (width < 1 || height < 1)) {
        std::abort();
    }

    Json::Value exif;
    bool read = ReadExifFromMemory(bytes, 1, exif);
    if (read != sized) {
        std::abort();
    }
    if (!read) {
        return 0;
    }
    if (!exif.isMember("ImageSize") || !exif["TakenTime"].isInt64()) {
        std::abort();
    }
    for (const auto& name : exif.getMemberNames()) {
        const Json::Value& value = exif[name];
        if (value.isString()) {
            std::string text = value.asString();
            if (MakeValidUtf8(text) != text) {
                std::abort();
            }
        }
    }
    std::string json = JsonStyled(exif);
    Json::Value back;
    if (!JsonParse(json, back) || back != exif) {
        std::abort();
    }
    return 0;
}
