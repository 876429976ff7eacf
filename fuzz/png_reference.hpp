#pragma once

// The PNG codec judged by libspng alone, and a decode that shows the bytes a codec leaves
// unwritten; shared by the fuzz targets and the tests.

#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "canvas/canvas.hpp"
#include "canvas/codec.hpp"
#include "canvas/colour_profile.hpp"
#include "canvas/png_fast.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint::fuzz {

inline std::uint32_t bigEndian32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

inline void putBigEndian32(std::uint8_t* p, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
        p[k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
}

// A chunk's type and data (PNG, section 5.3), inside the bytes it was found in.
struct ChunkView {
    std::string_view type;
    std::span<const std::uint8_t> data;
};

// The chunks after the signature that lie whole in the bytes, up to the first that does not:
// the one chunk walker of the tests and the fuzz targets.
inline std::vector<ChunkView> chunksIn(std::span<const std::uint8_t> png) {
    std::vector<ChunkView> chunks;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::size_t length = bigEndian32(png.data() + at);
        if (png.size() - at - 12 < length) break;
        chunks.push_back(
            {{reinterpret_cast<const char*>(png.data() + at + 4), 4}, png.subspan(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

// Appends a chunk (PNG, section 5.3): length, type, data, and the CRC, right or deliberately
// wrong.
inline void appendPngChunk(Bytes& png, std::string_view type, std::span<const std::uint8_t> data,
                           bool goodCrc = true) {
    const std::size_t at = png.size();
    png.resize(at + 12 + data.size());
    putBigEndian32(png.data() + at, static_cast<std::uint32_t>(data.size()));
    std::memcpy(png.data() + at + 4, type.data(), 4);
    if (!data.empty()) std::memcpy(png.data() + at + 8, data.data(), data.size());
    const std::uint32_t crc = libdeflate_crc32(0, png.data() + at + 4, 4 + data.size());
    putBigEndian32(png.data() + at + 8 + data.size(), goodCrc ? crc : crc ^ 1);
}

// The payloads of the first run of consecutive IDAT chunks joined: the zlib stream as libspng
// reads it.
inline Bytes idatStream(std::span<const std::uint8_t> png) {
    Bytes stream;
    bool inRun = false;
    for (const auto& [type, data] : chunksIn(png)) {
        if (type != "IDAT" && inRun) break;
        inRun = type == "IDAT";
        if (inRun) stream.insert(stream.end(), data.begin(), data.end());
    }
    return stream;
}

// Whether every chunk of the first run of consecutive IDATs lies whole in the bytes with its CRC
// right. libspng checks a chunk's CRC only as it reads the next chunk's header, and stops at the
// end of the zlib stream: the IDAT that holds the end is never checked.
inline bool idatRunIntact(std::span<const std::uint8_t> png) {
    const auto chunks = chunksIn(png);
    auto chunk = std::ranges::find(chunks, "IDAT", &ChunkView::type);
    for (; chunk != chunks.end() && chunk->type == "IDAT"; ++chunk) {
        const std::uint8_t* crc = chunk->data.data() + chunk->data.size();
        const std::uint8_t* typeAndData = chunk->data.data() - 4;
        if (libdeflate_crc32(0, typeAndData, crc - typeAndData) != bigEndian32(crc)) return false;
    }
    if (chunk != chunks.end() || chunks.empty()) return true;  // another chunk ends the run
    // The walk stopped where the bytes end or at a chunk cut short, image data if it is an IDAT.
    const std::uint8_t* end = chunks.back().data.data() + chunks.back().data.size() + 4;
    return png.data() + png.size() - end < 8 || std::memcmp(end + 4, "IDAT", 4) != 0;
}

// A PNG as libspng alone reads it, checksums checked: the header, and the straight RGBA8 pixels
// or nullopt when libspng refuses the pixel data or the IDAT run is not intact.
struct SpngPicture {
    spng_ihdr ihdr{};
    std::optional<Bytes> rgba;
    int status = 0;  // spng_decode_image's answer
    Bytes profile;   // the iCCP profile of a picture without an sRGB chunk
};

inline std::optional<SpngPicture> readPngWithLibspng(std::span<const std::uint8_t> png) {
    const std::unique_ptr<spng_ctx, decltype(&spng_ctx_free)> ctx(spng_ctx_new(0), spng_ctx_free);
    SpngPicture picture;
    // The codec's chunk limits, so that a chunk the codec refuses for its size is refused here
    // too rather than allocated (a declared length can be a gigabyte).
    if (!ctx || spng_set_chunk_limits(ctx.get(), 8 << 20, 32 << 20) != 0 ||
        spng_set_png_buffer(ctx.get(), png.data(), png.size()) != 0 ||
        spng_get_ihdr(ctx.get(), &picture.ihdr) != 0) {
        return std::nullopt;
    }
    // The profile as the chunks before the first IDAT give it: what the codec reads.
    std::uint8_t intent = 0;
    spng_iccp iccp{};
    if (spng_get_srgb(ctx.get(), &intent) != 0 && spng_get_iccp(ctx.get(), &iccp) == 0) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(iccp.profile);
        picture.profile.assign(bytes, bytes + iccp.profile_len);
    }
    Bytes rgba(std::size_t{picture.ihdr.width} * picture.ihdr.height * 4);
    picture.status =
        spng_decode_image(ctx.get(), rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
    if (picture.status == 0 && !idatRunIntact(png)) picture.status = SPNG_ECHUNK_CRC;
    if (picture.status == 0) picture.rgba = std::move(rgba);
    return picture;
}

// The bytes as one zlib stream, compressed by libdeflate at the level (0: stored blocks only).
inline Bytes zlibOf(std::span<const std::uint8_t> raw, int level = 6) {
    const std::unique_ptr<libdeflate_compressor, decltype(&libdeflate_free_compressor)> compressor(
        libdeflate_alloc_compressor(level), libdeflate_free_compressor);
    if (!compressor) std::abort();  // out of memory: no verdict can be had
    Bytes stream(libdeflate_zlib_compress_bound(compressor.get(), raw.size()));
    stream.resize(libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size(), stream.data(),
                                           stream.size()));
    return stream;
}

// The zlib stream inflated by libdeflate to exactly size bytes, Adler-32 checked, or nullopt.
inline std::optional<Bytes> inflatedTo(std::span<const std::uint8_t> stream, std::size_t size) {
    const std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)>
        decompressor(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    Bytes raw(size);
    if (!decompressor ||
        libdeflate_zlib_decompress(decompressor.get(), stream.data(), stream.size(), raw.data(),
                                   size, nullptr) != LIBDEFLATE_SUCCESS) {
        return std::nullopt;
    }
    return raw;
}

// The premultiplied RGBA pixels straight, each colour rounded to nearest (0 where alpha is 0),
// every alpha kept: what a PNG of them must hold.
inline Bytes straightOf(std::span<const std::uint8_t> premultiplied) {
    Bytes straight(premultiplied.begin(), premultiplied.end());
    for (std::size_t i = 0; i < straight.size(); i += 4) {
        const unsigned a = straight[i + 3];
        for (std::size_t k = i; k < i + 3; ++k)
            straight[k] = static_cast<std::uint8_t>(a == 0 ? 0 : (straight[k] * 255 + a / 2) / a);
    }
    return straight;
}

// How the PNG codec's answer for a PNG differs from libspng's, or nullopt when it does not: it
// must be the same pixels, converted by the picture's profile and premultiplied, or a refusal where
// libspng refuses, or one that only zlib's strictness refuses. Pictures of 16 bits a sample are
// left out: the codec rounds their samples, where libspng's RGBA8 truncates them.
inline std::optional<std::string_view> pngDisagreement(std::span<const std::uint8_t> png,
                                                       const Result<Canvas>& canvas) {
    if (!canvas && canvas.error() != "image") return std::nullopt;  // refused before decoding
    auto answer = readPngWithLibspng(png);
    if (!answer || answer->ihdr.bit_depth > 8) return std::nullopt;
    if (!canvas) {
        if (!answer->rgba) return std::nullopt;
        return "PNG codec refused a picture that libspng decodes";
    }
    if (!answer->rgba) {
        if (answer->status != SPNG_EIDAT_STREAM && answer->status != SPNG_EZLIB) {
            return "PNG codec decoded a picture that libspng refuses";
        }
        // zlib, which libspng inflates with, refuses some streams that libdeflate, which the
        // codec's IDAT path inflates with, reads by design (codes for the reserved length
        // symbols 286 and 287, for one). Such a stream must hold exactly the scanlines, as
        // Adler-32 confirms; its pixels are not judged, since filtering them is the same work as
        // for any other stream. Only the IDAT fast path reads such a stream, and it takes only
        // 8-bit samples without interlacing, so the rows are counted that way.
        const std::size_t rowBytes =
            std::size_t{answer->ihdr.width} * channelCount(PngColour{answer->ihdr.color_type}) + 1;
        if (!inflatedTo(idatStream(png), answer->ihdr.height * rowBytes)) {
            return "PNG codec decoded an IDAT stream that neither zlib nor libdeflate inflates";
        }
        return std::nullopt;
    }
    // Converted by the picture's profile, where it has one that converts: a tagged picture must
    // not reach the canvas unconverted by any path of the codec.
    Bytes& rgba = *answer->rgba;
    const bool grey = answer->ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE ||
                      answer->ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
    const auto conversion = profileConversion(
        answer->profile, {.model = grey ? ColourModel::grey : ColourModel::rgb, .samples = 4});
    if (conversion) conversion->convert(rgba.data(), rgba.data(), std::ssize(rgba) / 4);
    premultiply(rgba);
    if (std::ranges::equal(canvas->bytes(), rgba)) return std::nullopt;
    return "PNG codec's canvas differs from libspng's pixels";
}

// The picture decoded as makeCanvas decodes it, but into a canvas filled with `fill` beforehand:
// a byte that decode never writes keeps the fill, and cannot pass for a right one that an
// earlier decode left in the same memory.
inline Result<Canvas> decodeIntoFilled(std::span<const std::uint8_t> data, std::uint8_t fill) {
    const Codec* codec = sniffCodec(data);
    if (codec == nullptr) return std::unexpected("no picture on the clipboard");
    auto decoder = codec->readHeader(data);
    if (!decoder) return std::unexpected(decoder.error());
    auto canvas = allocateCanvas((*decoder)->size().w, (*decoder)->size().h);
    if (!canvas) return canvas;
    std::memset(canvas->px(), fill, static_cast<std::size_t>(canvas->byteCount()));
    if (auto decoded = (*decoder)->decode(*canvas); !decoded)
        return std::unexpected(decoded.error());
    return canvas;
}

}  // namespace cliptint::fuzz
