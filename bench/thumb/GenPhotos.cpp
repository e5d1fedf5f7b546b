// bench_thumb_photos OUTDIR COUNT [WIDTH HEIGHT QUALITY]
// Writes COUNT photo-like JPEGs (default 4032 x 3024, quality 92): sky and ground gradients,
// soft light, hard-edged objects and sensor grain, different for every file, so that the
// entropy-coded data is as dense as a phone photo's.
#include "media/CHBitmap.h"
#include "media/CHJpegEncoder.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

uint32_t Clamp(float v) {
    return static_cast<uint32_t>(std::clamp(v, 0.0f, 255.0f));
}

void Paint(CHBitmap& b, uint32_t seed) {
    const int w = b.Width();
    const int h = b.Height();
    const float horizon = 0.35f + 0.3f * float(seed % 7) / 7;
    const float sunX = float((seed * 37) % 100) / 100;
    uint32_t state = seed * 2654435761u + 1;
    for (int y = 0; y < h; ++y) {
        uint32_t* row = b.Row(y);
        const float v = float(y) / h;
        for (int x = 0; x < w; ++x) {
            const float u = float(x) / w;
            state = state * 1664525u + 1013904223u;
            const float grain = float(state >> 26) - 32.0f; // -32..31
            float r, g, bl;
            if (v < horizon + 0.03f * std::sin(u * 17 + seed)) {
                const float sun =
                    90 * std::exp(-((u - sunX) * (u - sunX) + (v - 0.15f) * (v - 0.15f)) * 40);
                r = 90 + 80 * v + sun;
                g = 130 + 70 * v + sun * 0.8f;
                bl = 220 - 40 * v + sun * 0.3f;
            } else {
                // Ground: texture at several scales.
                const float t = std::sin(u * 90 + std::sin(v * 40) * 3) * std::sin(v * 120 + u * 7);
                r = 80 + 40 * t + 30 * std::sin(u * 13 + seed);
                g = 100 + 50 * t + 20 * std::cos(v * 11);
                bl = 50 + 25 * t;
            }
            // A few buildings with windows.
            const int block = int(u * 12);
            if ((block + int(seed)) % 3 == 0 &&
                v > horizon - 0.12f * float((block * 7 + seed) % 5) / 5 && v < horizon + 0.05f) {
                const bool window = (x / 24 + y / 32) % 2 == 0 && (x % 24) > 8 && (y % 32) > 10;
                r = window ? 230 : 120;
                g = window ? 210 : 110;
                bl = window ? 150 : 105;
            }
            const float n = grain * 0.35f;
            row[x] = 0xFF000000u | Clamp(r + n) << 16 | Clamp(g + n) << 8 | Clamp(bl + n);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 6) {
        std::fprintf(stderr, "usage: bench_thumb_photos OUTDIR COUNT [WIDTH HEIGHT QUALITY]\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const int count = std::atoi(argv[2]);
    const int width = argc == 6 ? std::atoi(argv[3]) : 4032;
    const int height = argc == 6 ? std::atoi(argv[4]) : 3024;
    const int quality = argc == 6 ? std::atoi(argv[5]) : 92;
    std::filesystem::create_directories(out);
    std::vector<std::thread> workers;
    const int threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<int> failed(threads, 0);
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            CHBitmap bitmap;
            if (!bitmap.Create(width, height, 24)) {
                failed[t] = 1;
                return;
            }
            for (int i = t; i < count; i += threads) {
                Paint(bitmap, static_cast<uint32_t>(i + 1));
                std::string jpeg;
                char name[32];
                std::snprintf(name, sizeof name, "IMG_%04d.jpg", i);
                if (!CHJpegEncoder::Encode(bitmap, quality, jpeg) ||
                    !WriteWholeFile(out / name, jpeg)) {
                    failed[t] = 1;
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    return std::count(failed.begin(), failed.end(), 1) == 0 ? 0 : 1;
}
