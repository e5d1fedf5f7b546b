// vellumo-cli exif FILE: prints the photo's EXIF object as the library stores it, in the styled
// JSON layout.

#include "media/ExifReader.h"
#include "media/JsonText.h"
#include "tools/cli/CliCommand.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

int RunExif(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: vellumo-cli exif FILE\n");
        return 2;
    }
    const std::filesystem::path file(args[0]);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        std::fprintf(stderr, "vellumo-cli exif: '%s' is not a readable file\n", args[0].c_str());
        return 1;
    }
    Json::Value exif;
    if (!ReadExif(file, exif)) {
        std::fprintf(
            stderr,
            "vellumo-cli exif: '%s' is not an image (JPEG, PNG, GIF, BMP, TIFF, HEIF, AVIF)\n",
            args[0].c_str());
        return 1;
    }
    std::string text = JsonStyled(exif);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const CliRegistration kRegistration{
    "exif", "exif FILE            print the photo's EXIF object as styled JSON", &RunExif};

} // namespace
