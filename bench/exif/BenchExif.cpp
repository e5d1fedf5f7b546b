// ReadExif over every file of a folder (EXIF_BENCH_DIR), against the bare cost of opening each
// file and reading its first 64 KiB, the floor any header reader pays.
#include "media/ExifReader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

const std::vector<std::filesystem::path>& Files() {
    static const std::vector<std::filesystem::path> files = [] {
        std::vector<std::filesystem::path> found;
        const char* dir = std::getenv("EXIF_BENCH_DIR");
        std::error_code error;
        if (dir) {
            for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
                found.push_back(entry.path());
            }
        }
        return found;
    }();
    return files;
}

void BM_ReadExif(benchmark::State& state) {
    const auto& files = Files();
    if (files.empty()) {
        state.SkipWithError("set EXIF_BENCH_DIR to a folder of photos");
        return;
    }
    size_t failed = 0;
    for (auto _ : state) {
        for (const auto& file : files) {
            Json::Value exif;
            failed += !ReadExif(file, exif);
            benchmark::DoNotOptimize(exif);
        }
    }
    if (failed) {
        state.SkipWithError("some files were not read");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * files.size()));
}

void BM_ReadFirst64KiB(benchmark::State& state) {
    const auto& files = Files();
    std::vector<char> buffer(64 * 1024);
    for (auto _ : state) {
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            benchmark::DoNotOptimize(in.gcount());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * files.size()));
}

} // namespace

BENCHMARK(BM_ReadExif)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_ReadFirst64KiB)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

BENCHMARK_MAIN();
