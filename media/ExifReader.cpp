#include "media/ExifReader.h"

bool ReadExif(const std::filesystem::path&, Json::Value& exif) {
    exif = Json::Value(Json::objectValue);
    return false;
}

bool ReadExifFromMemory(std::string_view, int64_t, Json::Value& exif) {
    exif = Json::Value(Json::objectValue);
    return false;
}
