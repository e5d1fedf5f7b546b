#pragma once
// Turns the EXIF entries of a photo into the flat object of short display texts that the library
// stores and the phone shows, and works out the photo's taken time.

#include "media/CHTiffReader.h"

#include <json/value.h>

#include <cstdint>
#include <string>

class CHExifReader {
public:
    explicit CHExifReader(const CHTiffReader& tags) : m_tags(tags) {}

    // Sets "ImageSize" and a key for every known tag present; "TakenTime" is left to the caller.
    void Fill(int width, int height, Json::Value& exif) const;
    // DateTime (0x0132) read as local time, in seconds since 1970; 0 when the tag is missing,
    // cannot be parsed or does not give a time after 1970.
    int64_t TakenTime() const;

    // The display rules, public so that they can be checked on their own.
    static std::string ReciprocalText(float value, const char* suffix);
    static std::string ResolutionText(float resolution, uint16_t unit);
    static std::string OrientationText(uint16_t value);
    static std::string ExposureProgramText(uint16_t value);
    static std::string MeteringModeText(uint16_t value);
    static std::string LightSourceText(uint16_t value);
    static std::string FlashText(uint16_t value);
    // Parses "YYYY:MM:DD hh:mm:ss" as local time; 0 when it cannot.
    static int64_t LocalTimeFromText(const std::string& text);
    // Bytes up to the first zero, trimmed of white space, made valid UTF-8, with control bytes
    // that JSON cannot carry unescaped turned into spaces.
    static std::string DisplayText(const CHTiffReader::Item& item);

private:
    void FillSizes(int width, int height, Json::Value& exif) const;
    void FillTexts(Json::Value& exif) const;
    void FillCamera(Json::Value& exif) const;
    const CHTiffReader::Item* Find(uint16_t tag) const { return m_tags.Find(tag); }

    const CHTiffReader& m_tags;
};
