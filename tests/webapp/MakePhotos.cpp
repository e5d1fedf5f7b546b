// webapp_photos OUTDIR COUNT            small JPEGs with EXIF capture dates; prints "file date"
// webapp_photos OUTDIR COUNT MIN MAX    noisy JPEGs of MIN to MAX bytes, no EXIF
// Photos for the browser app's test and benchmark, from the tests' JPEG generator. Every photo
// differs from every other, so each is a new photo to the library.
#include "platform/FileSystem.h"
#include "tests/support/TestImages.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// The first two photos fall on the last day of 2019, the others on three days of 2021.
std::string DateOf(int index) {
    static const char* kDays[] = {"2021:03:05", "2021:03:09", "2021:07:20"};
    char text[32];
    if (index < 2) {
        std::snprintf(text, sizeof text, "2019:12:31 10:00:%02d", index);
    } else {
        std::snprintf(text, sizeof text, "%s 12:%02d:00", kDays[index % 3], index);
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) {
        std::fprintf(stderr, "usage: webapp_photos OUTDIR COUNT [MIN_BYTES MAX_BYTES]\n");
        return 2;
    }
    const fs::path dir = argv[1];
    const int count = std::atoi(argv[2]);
    std::error_code error;
    fs::create_directories(dir, error);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
        const fs::path file = dir / name;
        std::string bytes;
        std::string date;
        if (argc == 5) {
            const long long low = std::atoll(argv[3]);
            const long long high = std::atoll(argv[4]);
            const long long size = low + (high - low) * ((i * 37) % 101) / 100;
            bytes = MakeTestJpegOfSize(size, static_cast<uint32_t>(i + 1));
        } else {
            TestJpegOptions options;
            options.width = 320;
            options.height = 240;
            options.seed = static_cast<uint32_t>(i + 1);
            options.withExif = true;
            options.exif.dateTime = date = DateOf(i);
            options.exif.make = "Vellumo";
            options.exif.model = "Test Camera";
            bytes = MakeTestJpeg(options);
        }
        if (bytes.empty() || !WriteWholeFile(file, bytes)) {
            std::fprintf(stderr, "webapp_photos: cannot write %s\n", file.c_str());
            return 1;
        }
        std::printf("%s %s\n", file.c_str(), date.c_str());
    }
    return 0;
}
