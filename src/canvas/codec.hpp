#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "canvas/canvas.hpp"

namespace cliptint {

// Width and height as a picture's header states them; not yet checked against any limit.
struct PictureSize {
    std::int64_t w = 0;
    std::int64_t h = 0;
};

// A picture whose header has been read: the library's handle, opened once, waiting for a canvas
// of the stated size. It points into the picture bytes, which must outlive it. It is never
// copied or moved, since the libraries keep pointers to the state it holds.
class PictureDecoder {
  public:
    PictureDecoder() = default;
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;
    virtual ~PictureDecoder() = default;

    virtual PictureSize size() const = 0;

    // Fills every byte of a canvas of size() pixels, premultiplied. Called at most once: the
    // library's handle reads the picture's data once, from where the header ended. Failure:
    // "image".
    virtual Result<void> decode(Canvas& canvas) = 0;
};

// One picture format. makeCanvas picks the first codec whose sniff accepts the leading bytes,
// reads the header, checks the size and only then allocates the canvas that the decoder fills.
struct Codec {
    std::string_view name;
    bool (*sniff)(std::span<const std::uint8_t> data);
    // Failures: "no picture on the clipboard" (unreadable header), "picture size" (a size the
    // library itself refuses to read).
    Result<std::unique_ptr<PictureDecoder>> (*readHeader)(std::span<const std::uint8_t> data);
};

// The codecs that makeCanvas tries, in order.
std::span<const Codec> pictureCodecs();

// The first of pictureCodecs() whose sniff accepts the bytes, or nullptr.
const Codec* sniffCodec(std::span<const std::uint8_t> data);

}  // namespace cliptint
