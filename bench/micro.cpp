// Micro-benchmarks of the steps of one run on a 7,999 x 5,000 (40 MP) canvas: decoding the PNG
// into a canvas, the scan, the recolour and the PNG encode. Each is timed on the glyph (mostly
// clear ground) and on the noisy opaque picture, where every pixel counts and compresses badly.
// libspngDecode and libspngEncode are the PNG codec as it was before its libdeflate paths, the
// baselines for makeCanvas and encodePng; unfilterRow times the hand-written row filters.

#include <benchmark/benchmark.h>
#include <spng.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "canvas/canvas.hpp"
#include "canvas/png_fast.hpp"
#include "canvas/premultiply.hpp"
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

// What a file that the IDAT fast path does not take pays before libspng decodes it: the CRC of
// every IDAT chunk (the fast path checks them as it joins the stream).
void idatChecksums(benchmark::State& state, Kind kind) {
    const auto& file = pngFile(kind);
    for (auto _ : state) {
        if (!cliptint::idatChecksumsMatch(file)) state.SkipWithError("checksum");
    }
    setBytes(state);
}

using SpngContext = std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)>;

// libspng (with zlib) decodes into the canvas, which is then premultiplied.
void libspngDecode(benchmark::State& state, Kind kind) {
    const auto& file = pngFile(kind);
    for (auto _ : state) {
        auto canvas = cliptint::allocateCanvas(kWidth, kHeight);
        SpngContext ctx(spng_ctx_new(0), spng_ctx_free);
        spng_set_png_buffer(ctx.get(), file.data(), file.size());
        const auto out = canvas->bytes();
        if (spng_decode_image(ctx.get(), out.data(), out.size(), SPNG_FMT_RGBA8,
                              SPNG_DECODE_TRNS) != 0) {
            state.SkipWithError("libspng decode");
        }
        cliptint::premultiply(out);
        benchmark::DoNotOptimize(canvas->px());
    }
    setBytes(state);
}

// A straight copy of the canvas, encoded by libspng at its default settings.
void libspngEncode(benchmark::State& state, Kind kind) {
    Canvas painted = decodedCanvas(kind);
    if (kind == Kind::glyph) cliptint::recolour(painted, 0x33, 0x66, 0xCC);
    std::size_t size = 0;
    for (auto _ : state) {
        std::vector<std::uint8_t> straight(static_cast<std::size_t>(painted.byteCount()));
        const std::uint8_t* px = painted.px();
        for (std::size_t i = 0; i < straight.size(); i += 4) {
            const unsigned a = px[i + 3];
            for (std::size_t k = 0; k < 3; ++k) {
                straight[i + k] =
                    a == 0 ? 0 : static_cast<std::uint8_t>((px[i + k] * 255 + a / 2) / a);
            }
            straight[i + 3] = static_cast<std::uint8_t>(a);
        }
        SpngContext ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
        spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
        spng_ihdr ihdr{};
        ihdr.width = kWidth;
        ihdr.height = kHeight;
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
        spng_set_ihdr(ctx.get(), &ihdr);
        if (spng_encode_image(ctx.get(), straight.data(), straight.size(), SPNG_FMT_PNG,
                              SPNG_ENCODE_FINALIZE) != 0) {
            state.SkipWithError("libspng encode");
        }
        int error = 0;
        void* png = spng_get_png_buffer(ctx.get(), &size, &error);
        std::free(png);
    }
    state.counters["png_bytes"] = static_cast<double>(size);
    setBytes(state);
}

// 1,000 rows of 7,999 random RGBA pixels (as bad as a photograph gets) unfiltered by one type.
void unfilterRow(benchmark::State& state, cliptint::PngFilter filter) {
    constexpr std::int64_t kRows = 1000;
    constexpr std::int64_t kRowBytes = 4 * kWidth;
    std::vector<std::uint8_t> original(kRows * kRowBytes);
    std::mt19937 random(1);
    for (auto& b : original)
        b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> rows(original.size());
    for (auto _ : state) {
        state.PauseTiming();
        rows = original;
        state.ResumeTiming();
        for (std::int64_t y = 0; y < kRows; ++y) {
            std::uint8_t* row = rows.data() + y * kRowBytes;
            cliptint::unfilterRow(filter, row, y == 0 ? nullptr : row - kRowBytes, kRowBytes, 4);
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kRows * kRowBytes);
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
    add("libspngDecode", libspngDecode, 3);
    add("idatChecksums", idatChecksums, 0);
    add("scanCanvas", scanCanvas, 0);
    add("recolour", recolour, 0);
    add("encodePng", encodePng, 2);
    add("libspngEncode", libspngEncode, 1);
    using cliptint::PngFilter;
    for (const auto& [filter, name] : {std::pair{PngFilter::sub, "sub"},
                                       {PngFilter::up, "up"},
                                       {PngFilter::average, "average"},
                                       {PngFilter::paeth, "paeth"}}) {
        benchmark::RegisterBenchmark((std::string("unfilterRow/") + name).c_str(), unfilterRow,
                                     filter)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
