// Thumbnail store lookups: a thumbnail already stored (the common /thumb request), and, for
// scale, making one from a 12-megapixel photo.
#include "library/CHThumbStore.h"
#include "media/CHBitmap.h"
#include "media/CHJpegEncoder.h"
#include "platform/FileSystem.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Fixture {
    fs::path dir;
    fs::path photo;
    std::string photoBytes;

    Fixture() {
        char pattern[] = "/tmp/vellumo-bench-thumb-XXXXXX";
        dir = mkdtemp(pattern);
        fs::create_directories(dir / "Thumb");
        CHBitmap bitmap;
        bitmap.Create(4032, 3024, 24);
        for (int y = 0; y < bitmap.Height(); ++y) {
            for (int x = 0; x < bitmap.Width(); ++x) {
                bitmap.Row(y)[x] = 0xFF000000u | uint32_t((x * 7 + y) & 0xFF) << 16 |
                                   uint32_t((x ^ y) & 0xFF) << 8 | uint32_t((y * 3) & 0xFF);
            }
        }
        CHJpegEncoder::Encode(bitmap, 92, photoBytes);
        photo = dir / "photo.jpg";
        WriteWholeFile(photo, photoBytes);
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

void BM_GetStoredThumbnail(benchmark::State& state) {
    Fixture& f = Shared();
    CHThumbStore store([&f](Pid) { return f.photo; });
    store.SetFolder(f.dir / "Thumb");
    std::string out;
    // Fill every store so the lookups spread over the 32 files as real pids do.
    for (Pid pid = 1; pid <= 64; ++pid) {
        if (pid == 1) {
            store.GetThumbnail(pid, 150, 150, out);
        } else {
            store.PutThumbnail(pid, 150, 150, out);
        }
    }
    Pid pid = 1;
    for (auto _ : state) {
        store.GetThumbnail(pid, 150, 150, out);
        benchmark::DoNotOptimize(out.data());
        pid = pid % 64 + 1;
    }
    state.SetLabel(std::to_string(out.size()) + "-byte thumbnails");
}
BENCHMARK(BM_GetStoredThumbnail)->Unit(benchmark::kMicrosecond);

void BM_MakeThumbnail12MP(benchmark::State& state) {
    Fixture& f = Shared();
    std::string jpeg;
    for (auto _ : state) {
        CHThumbStore::MakeThumbnail(f.photoBytes, 150, 150, jpeg);
        benchmark::DoNotOptimize(jpeg.data());
    }
}
BENCHMARK(BM_MakeThumbnail12MP)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
