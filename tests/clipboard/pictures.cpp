#include "clipboard/pictures.hpp"

#include <tiffio.h>

#include <random>
#include <stdexcept>

#include "support/canvas_maker.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

Canvas glyph(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Canvas canvas = clearCanvas(24, 16);
    for (std::int64_t y = 4; y < 12; ++y) {
        for (std::int64_t x = 6; x < 18; ++x)
            setPixel(canvas, x, y, {r, g, b, 255});
        setPixel(canvas, 18, y,
                 {std::uint8_t(r / 2), std::uint8_t(g / 2), std::uint8_t(b / 2), 128});
    }
    return canvas;
}

Canvas noise(std::int64_t w, std::int64_t h) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(7);
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        const auto a = static_cast<std::uint8_t>(random());
        for (int k = 0; k < 3; ++k)
            canvas.px()[i + k] = static_cast<std::uint8_t>(random() % (a + 1u));
        canvas.px()[i + 3] = a;
    }
    return canvas;
}

Canvas noisyGlyph(std::int64_t w, std::int64_t h) {
    Canvas canvas = clearCanvas(w, h);
    std::mt19937 random(11);
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        if (random() % 4 == 0) continue;
        canvas.px()[i + 3] = static_cast<std::uint8_t>(200 + random() % 56);
    }
    return canvas;
}

std::string tiffOf(const Canvas& canvas, const std::string& scratchPath) {
    TIFF* tiff = TIFFOpen(scratchPath.c_str(), "w");
    if (tiff == nullptr) throw std::runtime_error("TIFFOpen");
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(canvas.w));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(canvas.h));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(canvas.h));
    const std::uint16_t extra = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &extra);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(canvas.w) * 4);
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        for (std::int64_t x = 0; x < canvas.w; ++x) {
            const Rgba p = pixelAt(canvas, x, y);
            const unsigned a = p.a;
            const std::uint8_t c[3] = {p.r, p.g, p.b};
            for (int k = 0; k < 3; ++k) {
                row[x * 4 + k] = a == 0 ? 0 : static_cast<std::uint8_t>((c[k] * 255u + a / 2) / a);
            }
            row[x * 4 + 3] = p.a;
        }
        TIFFWriteScanline(tiff, row.data(), static_cast<std::uint32_t>(y), 0);
    }
    TIFFClose(tiff);
    return readWholeFile(scratchPath);
}

}  // namespace cliptint::test
