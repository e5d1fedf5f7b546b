#include "media/ExifReader.h"

#include "media/CHExifReader.h"
#include "media/CHTiffReader.h"
#include "media/ImageHeader.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <system_error>

namespace {

// EXIF sits near the start of a photo; most files are read only this far.
constexpr size_t kFirstRead = 64 * 1024;
constexpr size_t kGrowthFactor = 4;

// The start of a file, read further on request. Nothing past the file's end is allocated.
class FileStart {
public:
    explicit FileStart(const std::filesystem::path& path) : m_stream(path, std::ios::binary) {
        if (m_stream.seekg(0, std::ios::end)) {
            std::streamoff size = m_stream.tellg();
            m_size = size > 0 ? static_cast<uint64_t>(size) : 0;
        }
        m_stream.seekg(0, std::ios::beg);
    }

    bool IsOpen() const { return m_stream.is_open() && m_stream.good(); }
    bool AtEnd() const { return m_bytes.size() >= m_size; }
    std::string_view Bytes() const { return m_bytes; }

    // Reads until `total` bytes are held or the file ends; false on a read error.
    bool ReadUpTo(uint64_t total) {
        total = std::min(total, m_size);
        if (total <= m_bytes.size()) {
            return true;
        }
        size_t held = m_bytes.size();
        m_bytes.resize(total);
        m_stream.read(m_bytes.data() + held, static_cast<std::streamsize>(total - held));
        size_t got = static_cast<size_t>(m_stream.gcount());
        m_bytes.resize(held + got);
        if (held + got < total) {
            // The file shrank while being read: take what is there as the whole of it.
            m_size = held + got;
            return !m_stream.bad();
        }
        return true;
    }

private:
    std::ifstream m_stream;
    std::string m_bytes;
    uint64_t m_size = 0;
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

// The header and the EXIF entries of an image's bytes; false when its size cannot be read.
bool ParseImage(std::string_view bytes, ImageHeader& header, CHTiffReader& tags) {
    bool sized = ReadImageHeader(bytes, header);
    if (!header.exif.empty()) {
        tags.Parse(header.exif);
    }
    return sized;
}

// The object of a parsed image; the file's time (asked for only when needed) stands in for a
// missing or unusable date.
template <typename FileTime>
Json::Value BuildObject(const ImageHeader& header, const CHTiffReader& tags, FileTime fileTime) {
    CHExifReader reader(tags);
    Json::Value exif(Json::objectValue);
    reader.Fill(header.width, header.height, exif);
    int64_t takenTime = reader.TakenTime();
    exif["TakenTime"] = Json::Int64{takenTime > 0 ? takenTime : fileTime()};
    return exif;
}

} // namespace

bool ReadExif(const std::filesystem::path& file, Json::Value& exif) {
    FileStart start(file);
    if (!start.IsOpen()) {
        return false;
    }
    uint64_t wanted = kFirstRead;
    for (;;) {
        if (!start.ReadUpTo(wanted)) {
            return false;
        }
        ImageHeader header;
        CHTiffReader tags;
        bool sized = ParseImage(start.Bytes(), header, tags);
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
        exif = BuildObject(header, tags, [&file] { return LastWriteSeconds(file); });
        return true;
    }
}

bool ReadExifFromMemory(std::string_view bytes, int64_t fileTime, Json::Value& exif) {
    ImageHeader header;
    CHTiffReader tags;
    if (!ParseImage(bytes, header, tags)) {
        return false;
    }
    exif = BuildObject(header, tags, [fileTime] { return fileTime; });
    return true;
}
