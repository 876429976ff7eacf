#pragma once

#include <libdeflate.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <span>

#include "canvas/colour_profile.hpp"
#include "canvas/premultiply.hpp"
#include "fuzz_checks.hpp"

namespace cliptint::fuzz {

// libspng inflates with zlib, which refuses some streams that libdeflate inflates by design
// (codes for the reserved length symbols 286 and 287, for one): a stream can be invalid by the
// letter of RFC 1951 and still say unambiguously which bytes it holds, checked by Adler-32. The
// PNG codec's IDAT path inflates with libdeflate and so reads such a file. These tell that case
// apart and give the pixels to judge it by.

inline bool zlibRefusedStream(int spngStatus) {
    return spngStatus == SPNG_EIDAT_STREAM || spngStatus == SPNG_EZLIB;
}

inline std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline void appendPngChunk(Bytes& png, const char (&type)[5], std::span<const std::uint8_t> data) {
    const std::size_t at = png.size();
    png.resize(at + 12 + data.size());
    const auto length = static_cast<std::uint32_t>(data.size());
    const std::array<std::uint8_t, 4> lengthBytes{
        static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    std::memcpy(png.data() + at, lengthBytes.data(), 4);
    std::memcpy(png.data() + at + 4, type, 4);
    if (!data.empty()) std::memcpy(png.data() + at + 8, data.data(), data.size());
    const std::uint32_t crc = libdeflate_crc32(0, png.data() + at + 4, 4 + data.size());
    const std::array<std::uint8_t, 4> crcBytes{
        static_cast<std::uint8_t>(crc >> 24), static_cast<std::uint8_t>(crc >> 16),
        static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)};
    std::memcpy(png.data() + at + 8 + data.size(), crcBytes.data(), 4);
}

// The straight RGBA8 pixels of an 8-bit, non-interlaced grey, grey-alpha, RGB or RGBA PNG whose
// IDAT stream libdeflate inflates to exactly the scanlines the header asks for (Adler-32
// checked): the scanlines are compressed again into a well-formed PNG with the same header,
// which libspng then decodes. nullopt when libdeflate does not inflate the stream either.
inline std::optional<Bytes> pixelsOfReinflatedPng(std::span<const std::uint8_t> png) {
    std::span<const std::uint8_t> ihdr;
    Bytes stream;  // the payloads of the first run of consecutive IDAT chunks, as libspng reads
    bool inRun = false;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = bigEndian32(png.data() + at);
        if (png.size() - at - 12 < length) break;
        const bool idat = std::memcmp(png.data() + at + 4, "IDAT", 4) == 0;
        if (!idat && inRun) break;
        inRun = idat;
        const auto data = png.subspan(at + 8, length);
        if (std::memcmp(png.data() + at + 4, "IHDR", 4) == 0 && length == 13) ihdr = data;
        if (idat) stream.insert(stream.end(), data.begin(), data.end());
        at += 12 + std::size_t{length};
    }
    if (ihdr.empty() || ihdr[8] != 8 || ihdr[12] != 0) return std::nullopt;
    constexpr std::array<int, 7> kChannels{1, 0, 3, 0, 2, 0, 4};
    const int channels = ihdr[9] < kChannels.size() ? kChannels[ihdr[9]] : 0;
    if (channels == 0) return std::nullopt;
    const std::size_t w = bigEndian32(ihdr.data());
    const std::size_t h = bigEndian32(ihdr.data() + 4);
    Bytes scanlines(h * (w * channels + 1));

    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>
        decompressor(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    expect(decompressor && compressor, "libdeflate allocation failed");
    if (libdeflate_zlib_decompress(decompressor.get(), stream.data(), stream.size(),
                                   scanlines.data(), scanlines.size(),
                                   nullptr) != LIBDEFLATE_SUCCESS) {
        return std::nullopt;
    }
    Bytes recompressed(libdeflate_zlib_compress_bound(compressor.get(), scanlines.size()));
    recompressed.resize(libdeflate_zlib_compress(compressor.get(), scanlines.data(),
                                                 scanlines.size(), recompressed.data(),
                                                 recompressed.size()));

    Bytes rebuilt(png.begin(), png.begin() + 8);
    appendPngChunk(rebuilt, "IHDR", ihdr);
    appendPngChunk(rebuilt, "IDAT", recompressed);
    appendPngChunk(rebuilt, "IEND", {});
    auto picture = readPngWithLibspng(rebuilt);
    if (!picture) return std::nullopt;
    return std::move(picture->rgba);
}

// libspng's RGBA pixels converted by the picture's profile, where it has one that converts: a
// tagged picture must not reach the canvas unconverted by any path of the codec.
inline void convertByProfile(const SpngPicture& picture, Bytes& rgba) {
    const bool grey = picture.ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      picture.ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const auto conversion = profileConversion(
        picture.profile, {.model = grey ? ColourModel::grey : ColourModel::rgb, .samples = 4});
    if (conversion) conversion->convert(rgba.data(), rgba.data(), std::ssize(rgba) / 4);
}

// The PNG codec's answer for a PNG matches libspng's: the same pixels, converted by the
// picture's profile and premultiplied, or a refusal where libspng refuses; where only zlib's
// strictness refuses the stream, the pixels that libdeflate reads from it. Pictures of 16 bits a
// sample are left out: the codec rounds their samples, where libspng's RGBA8 truncates them.
inline void checkPngAgainstLibspng(std::span<const std::uint8_t> png,
                                   const Result<Canvas>& canvas) {
    if (!canvas && canvas.error() != "image") return;  // refused before decoding
    auto answer = readPngWithLibspng(png);
    if (!answer || answer->ihdr.bit_depth > 8) return;
    if (!canvas) {
        expect(!answer->rgba, "PNG codec refused a picture that libspng decodes");
        return;
    }
    if (!answer->rgba) {
        expect(zlibRefusedStream(answer->status),
               "PNG codec decoded a picture that libspng refuses");
        answer->rgba = pixelsOfReinflatedPng(png);
        expect(answer->rgba.has_value(),
               "PNG codec decoded an IDAT stream that neither zlib nor libdeflate inflates");
    }
    convertByProfile(*answer, *answer->rgba);
    premultiply(*answer->rgba);
    expect(std::ranges::equal(canvas->bytes(), *answer->rgba),
           "PNG codec's canvas differs from libspng's pixels");
}

}  // namespace cliptint::fuzz
