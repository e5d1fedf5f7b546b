#include "media/CHExifReader.h"

#include "media/TextCodec.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

enum Tag : uint16_t {
    kBitsPerSample = 0x0102,
    kDescription = 0x010E,
    kEquipMake = 0x010F,
    kEquipModel = 0x0110,
    kOrientation = 0x0112,
    kSamplesPerPixel = 0x0115,
    kXResolution = 0x011A,
    kYResolution = 0x011B,
    kResolutionUnit = 0x0128,
    kSoftwareUsed = 0x0131,
    kDateTime = 0x0132,
    kArtist = 0x013B,
    kImageTitle = 0x0320,
    kCopyright = 0x8298,
    kExposureTime = 0x829A,
    kFNumber = 0x829D,
    kExposureProgram = 0x8822,
    kIsoSpeed = 0x8827,
    kShutterSpeed = 0x9201,
    kAperture = 0x9202,
    kBrightness = 0x9203,
    kExposureBias = 0x9204,
    kMaxAperture = 0x9205,
    kSubjectDistance = 0x9206,
    kMeteringMode = 0x9207,
    kLightSource = 0x9208,
    kFlash = 0x9209,
    kFocalLength = 0x920A,
    kColorSpace = 0xA001,
    kFlashEnergy = 0xA20B,
    kFocalPlaneXResolution = 0xA20E,
    kFocalPlaneYResolution = 0xA20F,
    kFocalPlaneResolutionUnit = 0xA210,
};

constexpr const char* kUnknown = "未知";

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char small[64];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        return {};
    }
    if (static_cast<size_t>(length) < sizeof small) {
        return std::string(small, length);
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    text.resize(length);
    return text;
}

// Truncates toward zero like a cast, but saturates where a cast would be undefined.
int ClampToInt(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 2147483647.0) {
        return 2147483647;
    }
    if (value <= -2147483648.0) {
        return -2147483647 - 1;
    }
    return static_cast<int>(value);
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

bool IsUnescapedControl(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 && c != '\b' && c != '\f' && c != '\n' && c != '\r' && c != '\t';
}

} // namespace

std::string CHExifReader::DisplayText(const CHTiffReader::Item& item) {
    std::string text(item.TextBytes());
    // The JSON writer escapes only \b \f \n \r \t; any other control byte would be written raw
    // and make the document unreadable to strict parsers. Such bytes never occur inside a UTF-8
    // sequence, so they can be replaced before validation.
    for (char& c : text) {
        if (IsUnescapedControl(c)) {
            c = ' ';
        }
    }
    size_t first = 0;
    size_t last = text.size();
    while (first < last && IsBlank(text[first])) {
        ++first;
    }
    while (last > first && IsBlank(text[last - 1])) {
        --last;
    }
    return MakeValidUtf8(std::string_view(text).substr(first, last - first));
}

std::string CHExifReader::ReciprocalText(float value, const char* suffix) {
    // Short exposures read better as "1/125"; negative values (only exposure bias has them
    // legitimately) keep their decimal form, as a reciprocal of them rounds to wrong or zero
    // denominators.
    if (value > 0 && value <= 0.5f) {
        return Format("1/%d%s", ClampToInt(1.0f / value + 0.5), suffix);
    }
    return Format("%6.3f%s", value, suffix);
}

std::string CHExifReader::ResolutionText(float resolution, uint16_t unit) {
    double perInch = 1.0;
    switch (unit) {
    case 3:
        perInch = 0.3937008; // centimetres
        break;
    case 4:
        perInch = 0.03937008; // millimetres
        break;
    case 5:
        perInch = 0.00003937008; // micrometres
        break;
    default:
        break;
    }
    return Format("%5.1f dpi", resolution / perInch);
}

std::string CHExifReader::OrientationText(uint16_t value) {
    switch (value) {
    case 1:
        return "正常";
    case 2:
        return "水平翻转";
    case 3:
        return "旋转180度";
    case 4:
        return "上下翻转";
    case 6:
        return "顺时针旋转90度";
    case 8:
        return "逆时针旋转90度";
    default:
        return kUnknown;
    }
}

std::string CHExifReader::ExposureProgramText(uint16_t value) {
    static const char* const kNames[] = {
        "手动",           "程序",          "光圈优先",      "快门优先", "creative program",
        "action program", "portrait mode", "landscape mode"};
    if (value >= 1 && value <= 8) {
        return kNames[value - 1];
    }
    return kUnknown;
}

std::string CHExifReader::MeteringModeText(uint16_t value) {
    static const char* const kNames[] = {"平均测光", "中央重点平均测光", "点测光",
                                         "多点测光", "矩阵测光",         "中央部分测光"};
    if (value >= 1 && value <= 6) {
        return kNames[value - 1];
    }
    return kUnknown;
}

std::string CHExifReader::LightSourceText(uint16_t value) {
    switch (value) {
    case 1:
        return "日光";
    case 2:
        return "荧光灯";
    case 3:
        return "钨光灯";
    case 17:
    case 18:
    case 19:
        return "灯光";
    case 20:
        return "D55";
    case 21:
        return "D65";
    case 22:
        return "D75";
    default:
        return kUnknown;
    }
}

std::string CHExifReader::FlashText(uint16_t value) {
    switch (value) {
    case 0:
        return "无闪光";
    case 1:
        return "闪光";
    default:
        return "未检测到闪光灯";
    }
}

int64_t CHExifReader::LocalTimeFromText(const std::string& text) {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (std::sscanf(text.c_str(), "%04d:%02d:%02d %02d:%02d:%02d", &year, &month, &day, &hour,
                    &minute, &second) != 6) {
        return 0;
    }
    // Cameras without a set clock write zeros; such dates and out-of-range fields are no time.
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59 || second < 0 || second > 60) {
        return 0;
    }
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    // The clock showed local time, summer time included: let the zone rules decide.
    local.tm_isdst = -1;
    std::time_t seconds = std::mktime(&local);
    return seconds > 0 ? static_cast<int64_t>(seconds) : 0;
}

int64_t CHExifReader::TakenTime() const {
    const CHTiffReader::Item* item = Find(kDateTime);
    if (!item) {
        return 0;
    }
    return LocalTimeFromText(std::string(item->TextBytes()));
}

void CHExifReader::Fill(int width, int height, Json::Value& exif) const {
    exif["ImageSize"] = Format("%d×%d", width, height);
    FillSizes(width, height, exif);
    FillTexts(exif);
    FillCamera(exif);
}

void CHExifReader::FillSizes(int width, int height, Json::Value& exif) const {
    const auto* unit = Find(kFocalPlaneResolutionUnit);
    const auto* xItem = Find(kFocalPlaneXResolution);
    const auto* yItem = Find(kFocalPlaneYResolution);
    if (unit && xItem && yItem) {
        // The unit's code is used as a multiplier, as the stored texts always have been.
        float multiplier = unit->ShortValue();
        float xResolution = xItem->RationalValue();
        float yResolution = yItem->RationalValue();
        if (yResolution != 0) {
            float cellWidth = xResolution != 0 ? multiplier * width / xResolution : 0;
            float cellHeight = multiplier * height / yResolution;
            exif["CellSize"] = Format("%4.2fcm × %4.2fcm", cellWidth, cellHeight);
        }
    }
    if (const auto* resolutionUnit = Find(kResolutionUnit)) {
        uint16_t code = resolutionUnit->ShortValue();
        if (const auto* x = Find(kXResolution)) {
            exif["XResolution"] = ResolutionText(x->RationalValue(), code);
        }
        if (const auto* y = Find(kYResolution)) {
            exif["YResolution"] = ResolutionText(y->RationalValue(), code);
        }
    }
    const auto* bits = Find(kBitsPerSample);
    const auto* samples = Find(kSamplesPerPixel);
    if (bits && samples) {
        exif["位深"] = Format("%lld", static_cast<long long>(bits->ShortValue()) *
                                          static_cast<long long>(samples->ShortValue()));
    }
}

void CHExifReader::FillTexts(Json::Value& exif) const {
    static const struct {
        uint16_t tag;
        const char* key;
    } kTexts[] = {
        {kDescription, "Description"},   {kEquipMake, "EquipMake"}, {kEquipModel, "EquipModel"},
        {kSoftwareUsed, "SoftwareUsed"}, {kDateTime, "DateTime"},   {kArtist, "Artist"},
        {kImageTitle, "ImageTitle"},     {kCopyright, "Copyright"},
    };
    for (const auto& text : kTexts) {
        if (const auto* item = Find(text.tag)) {
            exif[text.key] = DisplayText(*item);
        }
    }
}

void CHExifReader::FillCamera(Json::Value& exif) const {
    if (const auto* item = Find(kOrientation)) {
        exif["Orientation"] = OrientationText(item->ShortValue());
    }
    if (const auto* item = Find(kExposureTime)) {
        exif["ExposureTime"] = ReciprocalText(item->RationalValue(), "");
    }
    if (const auto* item = Find(kFNumber)) {
        exif["FNumber"] = Format("F%3.1f", item->RationalValue());
    }
    if (const auto* item = Find(kExposureProgram)) {
        exif["ExposureProg"] = ExposureProgramText(item->ShortValue());
    }
    if (const auto* item = Find(kIsoSpeed)) {
        exif["ISOSpeed"] = Format("%d", item->ShortValue());
    }
    if (const auto* item = Find(kShutterSpeed)) {
        exif["ShutterSpeed"] = Format("%6f", item->RationalValue());
    }
    if (const auto* item = Find(kAperture)) {
        exif["Aperture"] = Format("%6f", item->RationalValue());
    }
    if (const auto* item = Find(kBrightness)) {
        exif["Brightness"] = Format("%6f", item->RationalValue());
    }
    if (const auto* item = Find(kExposureBias)) {
        exif["ExposureBias"] = ReciprocalText(item->RationalValue(), " EV");
    }
    if (const auto* item = Find(kMaxAperture)) {
        exif["MaxAperture"] = Format("f%3.1f", item->RationalValue());
    }
    if (const auto* item = Find(kSubjectDistance)) {
        float distance = item->RationalValue();
        exif["SubjectDist"] = distance < 0 ? std::string("无限远") : Format("%4.2f m", distance);
    }
    if (const auto* item = Find(kMeteringMode)) {
        exif["MeteringMode"] = MeteringModeText(item->ShortValue());
    }
    if (const auto* item = Find(kLightSource)) {
        exif["LightSource"] = LightSourceText(item->ShortValue());
    }
    if (const auto* item = Find(kFlash)) {
        exif["Flash"] = FlashText(item->ShortValue());
    }
    if (const auto* item = Find(kFocalLength)) {
        exif["FocalLength"] = Format("%4.1fmm", item->RationalValue());
    }
    if (const auto* item = Find(kColorSpace)) {
        exif["ColorSpace"] = item->ShortValue() == 1 ? "sRGB" : kUnknown;
    }
    if (const auto* item = Find(kFlashEnergy)) {
        exif["FlashEnergy"] = Format("%2.2fs", item->RationalValue());
    }
}
