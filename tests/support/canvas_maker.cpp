#include "support/canvas_maker.hpp"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "png_reference.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

namespace {

void appendLittleEndian(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

void PrintTo(const Rgba& p, std::ostream* out) {
    *out << '{' << int{p.r} << ',' << int{p.g} << ',' << int{p.b} << ',' << int{p.a} << '}';
}

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour) {
    std::memcpy(canvas.px() + (y * canvas.w + x) * 4, &colour, 4);
}

Canvas clearCanvas(std::int64_t w, std::int64_t h, const std::vector<PixelRun>& runs) {
    auto canvas = allocateCanvas(w, h);
    if (!canvas) throw std::runtime_error(canvas.error());
    std::memset(canvas->px(), 0, static_cast<std::size_t>(canvas->byteCount()));
    for (const PixelRun& run : runs) {
        for (std::int64_t n = run.first; n < run.first + run.count; ++n)
            setPixel(*canvas, n % w, n / w, run.colour);
    }
    return std::move(*canvas);
}

std::vector<Rgba> allPixels(const Canvas& canvas) {
    std::vector<Rgba> pixels(static_cast<std::size_t>(canvas.w * canvas.h));
    std::memcpy(pixels.data(), canvas.px(), static_cast<std::size_t>(canvas.byteCount()));
    return pixels;
}

Bytes libpngFile(std::uint32_t w, std::uint32_t h, int colourType, int filters,
                 std::span<const std::uint8_t> samples,
                 std::span<const std::uint8_t> paletteAlphas) {
    Bytes file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const auto write = [](png_structp p, png_bytep data, std::size_t n) {
        static_cast<Bytes*>(png_get_io_ptr(p))
            ->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
    };
    png_set_write_fn(png, &file, write, [](png_structp) {});
    png_set_IHDR(png, info, w, h, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
    const std::vector<png_color> black(paletteAlphas.size());
    const int entries = static_cast<int>(paletteAlphas.size());
    if (entries > 0) png_set_PLTE(png, info, black.data(), entries);
    if (entries > 0) png_set_tRNS(png, info, paletteAlphas.data(), entries, nullptr);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < h; ++y)
        png_write_row(png, samples.data() + samples.size() / h * y);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}

std::string pngOf(const Canvas& canvas) {
    const Bytes png =
        libpngFile(static_cast<std::uint32_t>(canvas.w), static_cast<std::uint32_t>(canvas.h),
                   PNG_COLOR_TYPE_RGBA, PNG_ALL_FILTERS, fuzz::straightOf(canvas.bytes()));
    return std::string(png.begin(), png.end());
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes dataBytes(const std::string& name) {
    return bytesOf(readWholeFile(testData(name)));
}

Bytes fileOf(const std::vector<Chunk>& chunks) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Chunk& chunk : chunks)
        fuzz::appendPngChunk(png, chunk.type, chunk.data, chunk.goodCrc);
    return png;
}

Chunk ihdrOf(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colourType) {
    Bytes ihdr{0, 0, 0, 0, 0, 0, 0, 0, depth, colourType, 0, 0, 0};
    fuzz::putBigEndian32(ihdr.data(), w);
    fuzz::putBigEndian32(ihdr.data() + 4, h);
    return {"IHDR", ihdr};
}

Bytes tiffWithTags(const std::string& name,
                   const std::vector<std::pair<std::uint16_t, std::uint32_t>>& tags) {
    Bytes tiff = dataBytes(name);
    const auto read = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        while (bytes-- > 0)
            v = v << 8 | tiff[at + bytes];
        return v;
    };
    // The directory's entries: tag, type, count, and the value itself where it fits in 4 bytes.
    const std::size_t directory = read(4, 4), end = directory + 2 + 12 * read(directory, 2);
    for (std::size_t entry = directory + 2; entry < end; entry += 12) {
        for (const auto& [tag, value] : tags) {
            if (read(entry, 2) != tag) continue;
            Bytes replaced{4, 0, 1, 0, 0, 0};  // LONG, count 1
            appendLittleEndian(replaced, value, 4);
            std::ranges::copy(replaced, tiff.begin() + entry + 2);
        }
    }
    return tiff;
}

}  // namespace cliptint::test
