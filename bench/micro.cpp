// Micro-benchmarks of the steps of one run on a 7,999 x 5,000 (40 MP) canvas: decoding the PNG
// into a canvas, the scan, the recolour and the PNG encode. Each is timed on the glyph (mostly
// clear ground) and on the noisy opaque picture, where every pixel counts and compresses badly.

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

#include "canvas/canvas.hpp"
#include "paint/paint.hpp"
#include "pictures.hpp"
#include "probe/probe.hpp"

namespace {

using cliptint::Canvas;
using cliptint::bench::Picture;

constexpr std::int64_t kWidth = 7999;
constexpr std::int64_t kHeight = 5000;

enum class Kind { glyph, noisy };

const Picture& picture(Kind kind) {
    static const Picture glyph = cliptint::bench::makeGlyph(kWidth, kHeight);
    static const Picture noisy = cliptint::bench::makeNoisy(kWidth, kHeight);
    return kind == Kind::glyph ? glyph : noisy;
}

const std::vector<std::uint8_t>& pngFile(Kind kind) {
    static std::map<Kind, std::vector<std::uint8_t>> files;
    auto& file = files[kind];
    if (file.empty()) file = cliptint::bench::pngOf(picture(kind)).value();
    return file;
}

// The canvas as the tool gets it: decoded from the PNG file, so premultiplied exactly as a run
// sees it.
Canvas decodedCanvas(Kind kind) {
    return cliptint::makeCanvas(pngFile(kind)).value();
}

void setBytes(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * 4 * kWidth * kHeight);
}

void makeCanvas(benchmark::State& state, Kind kind) {
    const auto& file = pngFile(kind);
    for (auto _ : state) {
        auto canvas = cliptint::makeCanvas(file);
        if (!canvas) state.SkipWithError(canvas.error().c_str());
        benchmark::DoNotOptimize(canvas->px());
    }
    setBytes(state);
}

void scanCanvas(benchmark::State& state, Kind kind) {
    const Canvas canvas = decodedCanvas(kind);
    for (auto _ : state) {
        auto stats = cliptint::scanCanvas(canvas);
        benchmark::DoNotOptimize(stats);
    }
    setBytes(state);
}

void recolour(benchmark::State& state, Kind kind) {
    Canvas canvas = decodedCanvas(kind);
    for (auto _ : state) {
        cliptint::recolour(canvas, 0x33, 0x66, 0xCC);
        benchmark::ClobberMemory();
    }
    setBytes(state);
}

void encodePng(benchmark::State& state, Kind kind) {
    // The glyph as paint leaves it; the photo as decoded, the hard case for the compressor.
    Canvas painted = decodedCanvas(kind);
    if (kind == Kind::glyph) cliptint::recolour(painted, 0x33, 0x66, 0xCC);
    Canvas canvas = cliptint::allocateCanvas(painted.w, painted.h).value();
    std::size_t size = 0;
    for (auto _ : state) {
        // encodePng consumes the pixels it encodes: each round gets a fresh copy, untimed.
        state.PauseTiming();
        std::memcpy(canvas.px(), painted.px(), static_cast<std::size_t>(painted.byteCount()));
        state.ResumeTiming();
        const auto png = cliptint::encodePng(canvas);
        if (!png) state.SkipWithError("encode");
        size = png ? png->size() : 0;
    }
    state.counters["png_bytes"] = static_cast<double>(size);
    setBytes(state);
}

using Step = void (*)(benchmark::State&, Kind);

// Registers the step once for each picture; the slow steps run a fixed, small number of times.
void add(const char* name, Step step, std::int64_t iterations) {
    for (const auto& [kind, suffix] : {std::pair{Kind::glyph, "/glyph"}, {Kind::noisy, "/noisy"}}) {
        auto* b = benchmark::RegisterBenchmark((std::string(name) + suffix).c_str(), step, kind);
        b->Unit(benchmark::kMillisecond)->UseRealTime();
        if (iterations > 0) b->Iterations(iterations);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    add("makeCanvas", makeCanvas, 3);
    add("scanCanvas", scanCanvas, 0);
    add("recolour", recolour, 0);
    add("encodePng", encodePng, 2);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
