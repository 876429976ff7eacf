#pragma once

// The PNG pixel data of the common pictures (8 bits a sample, not interlaced, no palette, no
// tRNS) decoded and encoded over whole buffers with libdeflate, in the canvas's own memory.
// libspng stays the decoder of everything else and the judge of every damaged file, but for the
// checksums of the IDAT chunks (idatChecksumsMatch).

#include <libdeflate.h>

#include <cstdint>
#include <span>

#include "canvas/canvas.hpp"

namespace cliptint {

// The colour types that the IDAT fast path reads (PNG, section 11.2.2), by their IHDR values.
enum class PngColour : std::uint8_t { grey = 0, rgb = 2, greyAlpha = 4, rgba = 6 };

// Samples of one pixel in each colour type: 1, 3, 2 or 4.
int channelCount(PngColour colour);

enum class FastDecode {
    done,      // every byte of the canvas holds the picture, premultiplied
    declined,  // the canvas holds garbage: decode the picture another way
};

// Decodes the IDAT data of a PNG whose IHDR states canvas.w x canvas.h, 8 bits a sample, the
// given colour type, no interlacing, and whose chunks before the first IDAT have been read and
// accepted (libspng's rules on ancillary chunks are many; this path does not repeat them). It
// declines anything out of the ordinary, a damaged chunk or zlib stream included, so that the
// general decoder decides, with its own answer, what such a file is.
FastDecode decodePngIdat(std::span<const std::uint8_t> data, PngColour colour, Canvas& canvas);

// False when a chunk of the run of IDAT chunks that begins with the first one has a wrong CRC or
// is cut short. libspng checks a chunk's CRC as it reads the header of the next and stops at the
// end of the zlib stream, so it never checks the IDAT that holds the stream's end. A file without
// an IDAT, or whose chunks before the first one do not walk, is left to libspng to judge.
bool idatChecksumsMatch(std::span<const std::uint8_t> data);

// libdeflate's allocators, called through here so that tests can play out a compressor or a
// decompressor that cannot be had, as libdeflate_alloc_* answers when memory runs out.
struct DeflateAllocators {
    libdeflate_decompressor* (*decompressor)() = libdeflate_alloc_decompressor;
    libdeflate_compressor* (*compressor)(int level) = libdeflate_alloc_compressor;
};
inline DeflateAllocators deflateAllocators;

// PNG row filters (PNG, section 9.2), as the filter-type byte states them.
enum class PngFilter : std::uint8_t { none = 0, sub = 1, up = 2, average = 3, paeth = 4 };

// Undoes filter on one row of n bytes in place. prev is the row above, already unfiltered, or
// nullptr for the top row (which PNG filters against a row of zeros); bpp is bytes per pixel.
void unfilterRow(PngFilter filter, std::uint8_t* row, const std::uint8_t* prev, std::int64_t n,
                 int bpp);

}  // namespace cliptint
