// Skin load: parsing the built-in package, then decoding on first use every picture the windows
// look up and creating their fonts, as the program does when its windows first paint. The
// baseline decodes the same PNG blobs with libpng's simplified API into the same premultiplied
// layout, in the same run.

#include "platform/Resources.h"
#include "resources/BuiltInResources.h"
#include "ui/framework/UIResource.h"
#include "ui/framework/UISkinPackage.h"
#include "ui/framework/UISkinPaths.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <string>
#include <vector>

namespace {

const std::string& Package() {
    static const std::string bytes = [] {
        RegisterBuiltInResources();
        std::string out;
        LoadResourceBytes(kSkinResourceType, kSkinResourceId, out);
        return out;
    }();
    return bytes;
}

// Every style, text style and font the windows use, as their first paint asks for them.
void TouchEverything(UIResource& resource) {
    static const char* const kStates[] = {"normal", "grayed", "lighted", "pressed", "focused"};
    for (const SkinNodeUse& use : SkinPaths::kUsed) {
        std::string path = use.path;
        benchmark::DoNotOptimize(resource.GetImageStyle(path, nullptr));
        benchmark::DoNotOptimize(resource.GetTextStyle(path + "/text", nullptr));
        for (const char* state : kStates) {
            benchmark::DoNotOptimize(resource.GetImageStyle(path + "/" + state, nullptr));
            benchmark::DoNotOptimize(resource.GetTextStyle(path + "/Text/" + state, nullptr));
        }
    }
    benchmark::DoNotOptimize(resource.GetImage(SkinPaths::kStepPictureId, false));
}

void BM_SkinLoad(benchmark::State& state) {
    const std::string& bytes = Package();
    for (auto _ : state) {
        UIResource resource;
        if (!resource.LoadFromMemory(bytes.data(), bytes.size())) {
            state.SkipWithError("the built-in skin did not load");
            return;
        }
        TouchEverything(resource);
    }
}
BENCHMARK(BM_SkinLoad)->Unit(benchmark::kMillisecond);

void BM_SkinParseOnly(benchmark::State& state) {
    const std::string& bytes = Package();
    for (auto _ : state) {
        UIResource resource;
        benchmark::DoNotOptimize(resource.LoadFromMemory(bytes.data(), bytes.size()));
    }
}
BENCHMARK(BM_SkinParseOnly)->Unit(benchmark::kMillisecond);

// The 1x picture blobs of the package.
std::vector<std::string> PictureBlobs() {
    std::vector<std::string> out;
    UIResource resource;
    resource.LoadFromMemory(Package().data(), Package().size());
    auto sections = resource.ListBlobs();
    for (int id : sections[kSkinImagesSection]) {
        std::string blob;
        resource.GetBlob(kSkinImagesSection, id, blob);
        out.push_back(blob);
    }
    return out;
}

void BM_LibpngDecodeSamePictures(benchmark::State& state) {
    const std::vector<std::string> blobs = PictureBlobs();
    std::vector<unsigned char> pixels;
    for (auto _ : state) {
        for (const std::string& blob : blobs) {
            png_image image{};
            image.version = PNG_IMAGE_VERSION;
            if (!png_image_begin_read_from_memory(&image, blob.data(), blob.size())) {
                state.SkipWithError("libpng refused a picture");
                return;
            }
            image.format = PNG_FORMAT_BGRA;
            image.flags |= PNG_IMAGE_FLAG_COLORSPACE_NOT_sRGB;
            pixels.resize(PNG_IMAGE_SIZE(image));
            png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
            // The same premultiplication the program's pictures get.
            for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
                unsigned a = pixels[i + 3];
                if (a != 255) {
                    pixels[i] = static_cast<unsigned char>(pixels[i] * a / 255);
                    pixels[i + 1] = static_cast<unsigned char>(pixels[i + 1] * a / 255);
                    pixels[i + 2] = static_cast<unsigned char>(pixels[i + 2] * a / 255);
                }
            }
            benchmark::DoNotOptimize(pixels.data());
        }
    }
}
BENCHMARK(BM_LibpngDecodeSamePictures)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
