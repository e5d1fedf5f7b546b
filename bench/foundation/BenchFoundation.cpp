// Throughput of the digest and encoding routines. bench/foundation/run.sh compares MD5 with
// `openssl speed -evp md5` measured in the same run.

#include "media/Base64.h"
#include "media/CHMd5.h"
#include "media/UrlDecode.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

std::string Pseudorandom(size_t n) {
    std::string s(n, '\0');
    uint64_t x = 0x9E3779B97F4A7C15ULL;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        s[i] = static_cast<char>(x);
    }
    return s;
}

const std::string& Buffer256MiB() {
    static const std::string buffer = Pseudorandom(256u << 20);
    return buffer;
}

const std::string& Bytes16MiB() {
    static const std::string buffer = Pseudorandom(16u << 20);
    return buffer;
}

// A query-string-like text: mostly plain characters with a "%XX" every ~12 bytes.
const std::string& QueryText16MiB() {
    static const std::string text = [] {
        std::string raw = Pseudorandom(16u << 20);
        static const char plain[] =
            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.~=&";
        static const char hex[] = "0123456789ABCDEF";
        std::string out;
        out.reserve(raw.size());
        for (size_t i = 0; i + 3 <= raw.size();) {
            auto c = static_cast<unsigned char>(raw[i]);
            if (c % 12 == 0) {
                out += '%';
                out += hex[static_cast<unsigned char>(raw[i + 1]) >> 4];
                out += hex[static_cast<unsigned char>(raw[i + 2]) & 15];
                i += 3;
            } else {
                out += plain[c % (sizeof(plain) - 1)];
                ++i;
            }
        }
        return out;
    }();
    return text;
}

void BM_Md5Text_256MiB(benchmark::State& state) {
    const std::string& buffer = Buffer256MiB();
    for (auto _ : state) {
        std::string text = Md5Text(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_Md5Text_256MiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Base64Encode(benchmark::State& state) {
    const std::string& bytes = Bytes16MiB();
    for (auto _ : state) {
        std::string out = Base64EncodeBytes(bytes);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_Base64Decode(benchmark::State& state) {
    static const std::string encoded = Base64EncodeBytes(Bytes16MiB());
    for (auto _ : state) {
        std::string out = Base64DecodeBytes(encoded);
        benchmark::DoNotOptimize(out);
    }
    // Measured on the encoded (input) side.
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(encoded.size()));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_UrlDecode(benchmark::State& state) {
    const std::string& text = QueryText16MiB();
    for (auto _ : state) {
        std::string out = UrlDecode(text);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_UrlDecode)->Unit(benchmark::kMillisecond)->MinTime(1.0);

void BM_UrlDecodePlain(benchmark::State& state) {
    static const std::string text(16u << 20, 'a');
    for (auto _ : state) {
        std::string out = UrlDecode(text);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_UrlDecodePlain)->Unit(benchmark::kMillisecond)->MinTime(1.0);

} // namespace

BENCHMARK_MAIN();
