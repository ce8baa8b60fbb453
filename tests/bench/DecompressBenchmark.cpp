// Benchmark (not part of the test run): decoding a compressed 32 MiB ROM
// image, as the start-up path does for an embedded image. Reports output
// bytes per second.
#include <benchmark/benchmark.h>
#include <random>
#include <string>
#include <vector>
#include "RomCompressor.h"
#include "TKXDecompress.h"

namespace {

// A ROM-like image: erased (0xFF) stretches, repeated volume and file
// headers, text, and code-like bytes drawn from a skewed distribution.
std::string RomLikeImage(size_t size) {
    std::mt19937 rng(5);
    std::string s;
    s.reserve(size);
    int n = 0;
    while (s.size() < size) {
        switch (rng() % 8) {
            case 0: s.append(4096 + rng() % 60000, '\xFF'); break;
            case 1: s += "_FVH\x78\xE5\x8C\x8C\x3D\x8A\x1C\x4F\x99\x35\x89\x61\x85\xC3\x2D\xD3 file " + std::to_string(n++); break;
            case 2:
                for (int i = 0; i < 40; ++i) s += "Setup item " + std::to_string(rng() % 300) + " = enabled\n";
                break;
            default:
                for (int i = 0; i < 3000; ++i) {
                    uint32_t r = rng();
                    s += static_cast<char>((r & 0x300) != 0 ? (r & 0x1F) : (r & 0xFF));
                }
                break;
        }
    }
    s.resize(size);
    return s;
}

struct Fixture {
    std::string image = RomLikeImage(32u << 20);
    std::string stream;
    Fixture() {
        romz::Options o;
        o.maxChain = 16;
        stream = romz::Compress(image, o);
    }
};

Fixture& Data() {
    static Fixture f;
    return f;
}

void BM_RomUncompress32MiB(benchmark::State& state) {
    Fixture& f = Data();
    std::vector<UINT8> out(f.image.size());
    for (auto _ : state) {
        UINT32 n = rom_uncompress(out.data(), static_cast<UINT32>(out.size()),
                                  reinterpret_cast<const UINT8*>(f.stream.data()), static_cast<UINT32>(f.stream.size()));
        if (n != f.image.size()) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.image.size()));
    state.counters["ratio"] = static_cast<double>(f.stream.size()) / static_cast<double>(f.image.size());
}
BENCHMARK(BM_RomUncompress32MiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
