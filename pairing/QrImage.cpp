#include "pairing/QrImage.h"

#include <png.h>

#include <cstdio>
#include <memory>
#include <system_error>

std::optional<QrImage> MakeQrImage(const std::string& text) {
    auto encoder = std::make_unique<CHQrEncoder>();
    if (!encoder->Encode(text.c_str())) {
        return std::nullopt;
    }
    return MakeQrImage(*encoder);
}

QrImage MakeQrImage(const CHQrEncoder& symbol) {
    QrImage image;
    if (!symbol.HasSymbol()) {
        return image;
    }
    int size = symbol.Size();
    image.width = size + 2 * kQrQuietZone;
    image.height = image.width;
    image.pixels.assign(static_cast<size_t>(image.width) * image.height, 255);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (symbol.Module(x, y)) {
                image.pixels[static_cast<size_t>(y + kQrQuietZone) * image.width + x +
                             kQrQuietZone] = 0;
            }
        }
    }
    return image;
}

bool WriteQrPng(const QrImage& image, const fs::path& file, int scale) {
    if (image.width <= 0 || image.height <= 0 || scale < 1 || scale > 64 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height) {
        return false;
    }
    int width = image.width * scale;
    int height = image.height * scale;
    std::vector<uint8_t> scaled(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            scaled[static_cast<size_t>(y) * width + x] = image.At(x / scale, y / scale);
        }
    }

    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_GRAY;
    png_alloc_size_t bytes = 0;
    if (!png_image_write_to_memory(&png, nullptr, &bytes, 0, scaled.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    std::vector<uint8_t> encoded(bytes);
    if (!png_image_write_to_memory(&png, encoded.data(), &bytes, 0, scaled.data(), 0, nullptr)) {
        png_image_free(&png);
        return false;
    }
    png_image_free(&png);

    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file.c_str(), "wb"), &std::fclose);
    if (!out) {
        return false;
    }
    bool ok = std::fwrite(encoded.data(), 1, bytes, out.get()) == bytes;
    ok = std::fclose(out.release()) == 0 && ok;
    if (!ok) {
        std::error_code ec;
        fs::remove(file, ec);
    }
    return ok;
}

std::string RenderQrHalfBlocks(const CHQrEncoder& symbol) {
    std::string text;
    if (!symbol.HasSymbol()) {
        return text;
    }
    int size = symbol.Size();
    int first = -kQrQuietZone;
    int last = size + kQrQuietZone;                                  // one past the end
    auto light = [&](int x, int y) { return !symbol.Module(x, y); }; // outside counts as light
    for (int y = first; y < last; y += 2) {
        for (int x = first; x < last; ++x) {
            bool top = light(x, y);
            // An odd row count leaves the last line's lower half beyond the quiet zone: light.
            bool bottom = y + 1 >= last || light(x, y + 1);
            if (top && bottom) {
                text += "\u2588";
            } else if (top) {
                text += "\u2580";
            } else if (bottom) {
                text += "\u2584";
            } else {
                text += ' ';
            }
        }
        text += '\n';
    }
    return text;
}
