// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <memory>

#include "canvas/codecs.hpp"
#include "canvas/premultiply.hpp"

namespace cliptint {

namespace {

// Only a progressive picture needs much: its coefficients for the whole picture, 2 bytes a
// sample. This covers four components at the largest size a canvas takes; beyond it libjpeg
// fails instead of allocating.
constexpr long kMaxJpegMemory = 320L << 20;  // bytes

// A progressive picture of thousands of tiny scans takes ages to decode; real ones have a few
// dozen at most.
constexpr int kMaxScans = 1000;

struct JpegErrors {
    jpeg_error_mgr manager;  // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    bool damaged = false;  // a warning that the pixel data is cut short or corrupt
};

JpegErrors& errorsOf(j_common_ptr info) {
    return *reinterpret_cast<JpegErrors*>(info->err);
}

[[noreturn]] void leaveJpeg(j_common_ptr info) {
    std::longjmp(errorsOf(info).jump, 1);
}

// libjpeg only warns where data runs out or is corrupt and draws grey or noise in its place;
// those warnings make the picture unusable. Others (extra bytes, odd markers) are harmless.
void noteJpegMessage(j_common_ptr info, int level) {
    if (level != -1) return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            errorsOf(info).damaged = true;
            break;
        default:
            break;
    }
}

void printNothing(j_common_ptr) {}

void limitScans(j_common_ptr info) {
    if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) leaveJpeg(info);
}

// libjpeg's decompressor after reading the header. Its fields are open to the steps below,
// which libjpeg may leave by longjmp.
struct JpegDecoder final : PictureDecoder {
    std::span<const std::uint8_t> data;
    Canvas* canvas = nullptr;  // filled by readJpegPixels
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    jpeg_progress_mgr progress{};
    bool created = false;

    explicit JpegDecoder(std::span<const std::uint8_t> bytes) : data(bytes) {}
    ~JpegDecoder() override {
        if (created) jpeg_destroy_decompress(&info);
    }

    PictureSize size() const override { return {info.image_width, info.image_height}; }
    Result<void> decode(Canvas& target) override;
};

// The steps below call libjpeg, which may leave them by longjmp at any point; none of them
// owns anything with a destructor.
using JpegStep = bool (*)(JpegDecoder&);

bool startJpeg(JpegDecoder& decoder) {
    jpeg_decompress_struct& info = decoder.info;
    info.err = jpeg_std_error(&decoder.errors.manager);
    decoder.errors.manager.error_exit = leaveJpeg;
    decoder.errors.manager.emit_message = noteJpegMessage;
    decoder.errors.manager.output_message = printNothing;
    decoder.created = true;  // destroying a half-created decompressor is safe
    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = kMaxJpegMemory;
    decoder.progress.progress_monitor = limitScans;
    info.progress = &decoder.progress;
    jpeg_mem_src(&info, decoder.data.data(), static_cast<unsigned long>(decoder.data.size()));
    return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
}

// CMYK has no colour profile here, so it is converted the plain way: each colour is its
// ink's complement times the black's complement. Adobe's files store the complements already.
void cmykToRgba(std::uint8_t* row, std::int64_t count, bool inverted) {
    for (std::int64_t i = 0; i < count; ++i, row += 4) {
        const unsigned k = inverted ? row[3] : 255u - row[3];
        for (int c = 0; c < 3; ++c) {
            row[c] = premultiplied(inverted ? row[c] : 255u - row[c], k);
        }
        row[3] = 255;
    }
}

bool readJpegPixels(JpegDecoder& decoder) {
    jpeg_decompress_struct& info = decoder.info;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;  // RGBA leaves alpha at 255
    jpeg_start_decompress(&info);
    // Unscaled output is as wide and as high as the header states, so its rows fit the canvas.
    if (info.output_components != 4) return false;
    Canvas& canvas = *decoder.canvas;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = canvas.px() + std::int64_t{info.output_scanline} * canvas.w * 4;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
        if (cmyk) cmykToRgba(row, canvas.w, info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&info);
    return !decoder.errors.damaged;
}

// The one place where a libjpeg failure lands: its longjmp comes back to this frame, which,
// like every frame between it and libjpeg, has nothing to destroy.
bool runJpegStep(JpegDecoder& decoder, JpegStep step) {
    if (setjmp(decoder.errors.jump) != 0) return false;
    return step(decoder);
}

bool sniffJpeg(std::span<const std::uint8_t> data) {
    return data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

Result<std::unique_ptr<PictureDecoder>> readJpegHeader(std::span<const std::uint8_t> data) {
    auto decoder = std::make_unique<JpegDecoder>(data);
    if (runJpegStep(*decoder, startJpeg)) return decoder;
    // A frame header stating a width or height of 0 is a size libjpeg will not take.
    if (decoder->errors.manager.msg_code == JERR_EMPTY_IMAGE) {
        return std::unexpected("picture size");
    }
    return std::unexpected("no picture on the clipboard");
}

Result<void> JpegDecoder::decode(Canvas& target) {
    canvas = &target;
    if (!runJpegStep(*this, readJpegPixels)) return std::unexpected("image");
    return {};
}

}  // namespace

Codec jpegCodec() {
    return {"jpeg", sniffJpeg, readJpegHeader};
}

}  // namespace cliptint
