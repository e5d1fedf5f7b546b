// vellumo-cli qr TEXT OUT.png [--scale N]: writes the text's QR symbol as a PNG on white.

#include "pairing/QrImage.h"
#include "tools/cli/CliCommand.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool ParseScale(const std::string& text, int& scale) {
    if (text.empty() || text.size() > 3) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    scale = std::atoi(text.c_str());
    return scale >= 1 && scale <= 64;
}

int RunQr(const std::vector<std::string>& args) {
    std::vector<std::string> positional;
    int scale = 8;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--scale") {
            if (i + 1 >= args.size() || !ParseScale(args[i + 1], scale)) {
                std::fprintf(stderr, "vellumo-cli qr: --scale needs a number from 1 to 64\n");
                return 2;
            }
            ++i;
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2) {
        std::fprintf(stderr, "usage: vellumo-cli qr TEXT OUT.png [--scale N]\n");
        return 2;
    }
    auto image = MakeQrImage(positional[0]);
    if (!image) {
        std::fprintf(stderr, "vellumo-cli qr: the text is empty or too long for a QR code\n");
        return 1;
    }
    if (!WriteQrPng(*image, positional[1], scale)) {
        std::fprintf(stderr, "vellumo-cli qr: cannot write %s\n", positional[1].c_str());
        return 1;
    }
    return 0;
}

const CliRegistration reg{
    "qr", "qr TEXT OUT.png [--scale N]   write TEXT as a QR code PNG (scale 1-64, default 8)",
    &RunQr};

} // namespace
