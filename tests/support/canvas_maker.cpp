#include "support/canvas_maker.hpp"

#include <png.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace cliptint::test {

Canvas clearCanvas(std::int64_t w, std::int64_t h) {
    auto canvas = allocateCanvas(w, h);
    if (!canvas) throw std::runtime_error(canvas.error());
    std::memset(canvas->px(), 0, static_cast<std::size_t>(canvas->byteCount()));
    return std::move(*canvas);
}

void setPixel(Canvas& canvas, std::int64_t x, std::int64_t y, Rgba colour) {
    std::uint8_t* p = canvas.px() + (y * canvas.w + x) * 4;
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
    p[3] = colour.a;
}

Rgba pixelAt(const Canvas& canvas, std::int64_t x, std::int64_t y) {
    const std::uint8_t* p = canvas.px() + (y * canvas.w + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

std::string pngOf(const Canvas& canvas) {
    std::vector<std::uint8_t> straight(static_cast<std::size_t>(canvas.byteCount()));
    for (std::int64_t i = 0; i < canvas.byteCount(); i += 4) {
        const unsigned a = canvas.px()[i + 3];
        for (int k = 0; k < 3; ++k) {
            straight[i + k] = a == 0 ? 0 : (canvas.px()[i + k] * 255u + a / 2) / a;
        }
        straight[i + 3] = static_cast<std::uint8_t>(a);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(canvas.w);
    image.height = static_cast<png_uint_32>(canvas.h);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, straight.data(), 0, nullptr)) {
        throw std::runtime_error("png size");
    }
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

}  // namespace cliptint::test
