#include "media/ExifReader.h"

#include "media/CHExifReader.h"
#include "media/CHTiffReader.h"
#include "media/ImageHeader.h"

#include <chrono>
#include <fstream>
#include <string>
#include <system_error>

namespace {

// EXIF sits near the start of a photo; most files are read only this far.
constexpr size_t kFirstRead = 64 * 1024;
constexpr size_t kGrowthFactor = 4;

// The start of a file, read further on request.
class FileStart {
public:
    explicit FileStart(const std::filesystem::path& path) : m_stream(path, std::ios::binary) {}

    bool IsOpen() const { return m_stream.is_open(); }
    bool AtEnd() const { return m_atEnd; }
    std::string_view Bytes() const { return m_bytes; }

    // Reads until `total` bytes are held or the file ends; false on a read error.
    bool ReadUpTo(size_t total) {
        if (m_atEnd || total <= m_bytes.size()) {
            return true;
        }
        size_t held = m_bytes.size();
        m_bytes.resize(total);
        m_stream.read(m_bytes.data() + held, static_cast<std::streamsize>(total - held));
        size_t got = static_cast<size_t>(m_stream.gcount());
        m_bytes.resize(held + got);
        if (got < total - held) {
            m_atEnd = true;
            return !m_stream.bad();
        }
        return true;
    }

private:
    std::ifstream m_stream;
    std::string m_bytes;
    bool m_atEnd = false;
};

int64_t LastWriteSeconds(const std::filesystem::path& path) {
    std::error_code error;
    auto written = std::filesystem::last_write_time(path, error);
    if (error) {
        return 0;
    }
    auto system = std::chrono::file_clock::to_sys(written);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The object for a parsed image; takenTime of 0 means "use the file's time".
void BuildObject(const ImageHeader& header, const CHTiffReader& tags, Json::Value& exif,
                 int64_t& takenTime) {
    CHExifReader reader(tags);
    exif = Json::Value(Json::objectValue);
    reader.Fill(header.width, header.height, exif);
    takenTime = reader.TakenTime();
}

} // namespace

bool ReadExif(const std::filesystem::path& file, Json::Value& exif) {
    FileStart start(file);
    if (!start.IsOpen()) {
        return false;
    }
    size_t wanted = kFirstRead;
    for (;;) {
        if (!start.ReadUpTo(wanted)) {
            return false;
        }
        ImageHeader header;
        bool sized = ReadImageHeader(start.Bytes(), header);
        CHTiffReader tags;
        if (!header.exif.empty()) {
            tags.Parse(header.exif);
        }
        // A TIFF file may keep its directories anywhere, often after the image data.
        bool incomplete =
            header.needsMoreBytes || (header.format == ImageFormat::Tiff && tags.Truncated());
        if (incomplete && !start.AtEnd()) {
            wanted = start.Bytes().size() * kGrowthFactor;
            continue;
        }
        if (!sized) {
            return false;
        }
        Json::Value object;
        int64_t takenTime = 0;
        BuildObject(header, tags, object, takenTime);
        object["TakenTime"] = Json::Int64{takenTime > 0 ? takenTime : LastWriteSeconds(file)};
        exif = std::move(object);
        return true;
    }
}

bool ReadExifFromMemory(std::string_view bytes, int64_t fileTime, Json::Value& exif) {
    ImageHeader header;
    if (!ReadImageHeader(bytes, header)) {
        return false;
    }
    CHTiffReader tags;
    if (!header.exif.empty()) {
        tags.Parse(header.exif);
    }
    Json::Value object;
    int64_t takenTime = 0;
    BuildObject(header, tags, object, takenTime);
    object["TakenTime"] = Json::Int64{takenTime > 0 ? takenTime : fileTime};
    exif = std::move(object);
    return true;
}
