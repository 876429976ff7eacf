#include "support/canvas_maker.hpp"

#include <png.h>

#include <cstring>
#include <stdexcept>

#include "png_reference.hpp"
#include "support/run_tool.hpp"

namespace cliptint::test {

void PrintTo(const Rgba& p, std::ostream* out) {
    *out << '{' << int{p.r} << ',' << int{p.g} << ',' << int{p.b} << ',' << int{p.a} << '}';
}

Canvas clearCanvas(std::int64_t w, std::int64_t h) {
    auto canvas = allocateCanvas(w, h);
    if (!canvas) throw std::runtime_error(canvas.error());
    std::memset(canvas->px(), 0, static_cast<std::size_t>(canvas->byteCount()));
    return std::move(*canvas);
}

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour) {
    std::memcpy(canvas.px() + (y * canvas.w + x) * 4, &colour, 4);
}

Rgba pixelAt(const Canvas& canvas, std::int64_t x, std::int64_t y) {
    Rgba p;
    std::memcpy(&p, canvas.px() + (y * canvas.w + x) * 4, 4);
    return p;
}

std::vector<Rgba> allPixels(const Canvas& canvas) {
    std::vector<Rgba> pixels(static_cast<std::size_t>(canvas.w * canvas.h));
    std::memcpy(pixels.data(), canvas.px(), static_cast<std::size_t>(canvas.byteCount()));
    return pixels;
}

std::string pngOf(const Canvas& canvas) {
    Bytes straight = fuzz::straightOf(canvas.bytes());
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.w);
    image.height = static_cast<png_uint_32>(canvas.h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, straight.data(), 0, nullptr);
    std::string png(size, '\0');
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, straight.data(), 0, nullptr)) {
        throw std::runtime_error("png write");
    }
    png.resize(size);
    return png;
}

StraightPicture decodeWithLibpng(std::span<const std::uint8_t> png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
    image.format = PNG_FORMAT_RGBA;
    StraightPicture picture{image.width, image.height, {}};
    picture.rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr)) return {};
    return picture;
}

Bytes dataBytes(const std::string& name) {
    const std::string text = readWholeFile(testData(name));
    return Bytes(text.begin(), text.end());
}

}  // namespace cliptint::test
