// clang-format off
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

#include "canvas/codecs.hpp"
#include "canvas/colour_profile.hpp"
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

// An embedded profile is split over APP2 markers that each begin with this name, a sequence
// number and the number of markers (ICC.1, annex B.4).
constexpr char kIccMarkerName[] = "ICC_PROFILE";  // with its terminating 0, 12 bytes
constexpr unsigned kIccMarkerHeader = sizeof kIccMarkerName + 2;  // bytes

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
    JOCTET* profile = nullptr;  // from malloc, joined by readJpegProfile
    unsigned profileSize = 0;   // bytes
    std::optional<ColourConversion> conversion;

    explicit JpegDecoder(std::span<const std::uint8_t> bytes) : data(bytes) {}
    ~JpegDecoder() override {
        std::free(profile);
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
    // APP2 markers are kept for the colour profile; their data lies in the picture bytes already,
    // so keeping them costs at most as much memory again.
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    return jpeg_read_header(&info, TRUE) == JPEG_HEADER_OK;
}

bool cmykPicture(const jpeg_decompress_struct& info) {
    return info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
}

// The bytes that the profile's markers hold together, added up before libjpeg joins them.
std::size_t savedProfileBytes(const jpeg_decompress_struct& info) {
    std::size_t total = 0;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker != nullptr;
         marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 2 && marker->data_length >= kIccMarkerHeader &&
            std::memcmp(marker->data, kIccMarkerName, sizeof kIccMarkerName) == 0) {
            total += marker->data_length - kIccMarkerHeader;
        }
    }
    return total;
}

// Joins the profile's markers; a set with a marker missing or twice gives no profile.
bool readJpegProfile(JpegDecoder& decoder) {
    if (savedProfileBytes(decoder.info) > kMaxProfileBytes) return true;
    if (jpeg_read_icc_profile(&decoder.info, &decoder.profile, &decoder.profileSize) != TRUE) {
        decoder.profile = nullptr;
        decoder.profileSize = 0;
    }
    return true;
}

// libjpeg gives grey pictures as RGBA of equal colours, of which the conversion reads the first.
std::optional<ColourConversion> jpegConversion(const JpegDecoder& decoder) {
    if (decoder.profile == nullptr) return std::nullopt;
    PixelLayout layout{.model = ColourModel::rgb, .sampleBytes = 1, .samples = 4};
    if (cmykPicture(decoder.info)) {
        layout.model = ColourModel::cmyk;
        layout.inverted = decoder.info.saw_Adobe_marker != 0;
    } else if (decoder.info.jpeg_color_space == JCS_GRAYSCALE) {
        layout.model = ColourModel::grey;
    }
    return profileConversion({decoder.profile, decoder.profileSize}, layout);
}

// CMYK without a colour profile is converted the plain way: each colour is its ink's
// complement times the black's complement. Adobe's files store the complements already.
void cmykToRgba(std::uint8_t* row, std::int64_t count, bool inverted) {
    for (std::int64_t i = 0; i < count; ++i, row += 4) {
        const unsigned k = inverted ? row[3] : 255u - row[3];
        for (int c = 0; c < 3; ++c) {
            row[c] = premultiplied(inverted ? row[c] : 255u - row[c], k);
        }
        row[3] = 255;
    }
}

// The fourth byte of converted CMYK still holds the black.
void setOpaque(std::uint8_t* row, std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i)
        row[i * 4 + 3] = 255;
}

bool readJpegPixels(JpegDecoder& decoder) {
    jpeg_decompress_struct& info = decoder.info;
    const bool cmyk = cmykPicture(info);
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;  // RGBA leaves alpha at 255
    jpeg_start_decompress(&info);
    // Unscaled output is as wide and as high as the header states, so its rows fit the canvas.
    if (info.output_components != 4) return false;
    Canvas& canvas = *decoder.canvas;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = canvas.px() + std::int64_t{info.output_scanline} * canvas.w * 4;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
        if (decoder.conversion) {
            decoder.conversion->convert(row, row, canvas.w);
            if (cmyk) setOpaque(row, canvas.w);
        } else if (cmyk) {
            cmykToRgba(row, canvas.w, info.saw_Adobe_marker);
        }
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
    if (!runJpegStep(*this, readJpegProfile)) return std::unexpected("image");
    conversion = jpegConversion(*this);
    if (!runJpegStep(*this, readJpegPixels)) return std::unexpected("image");
    return {};
}

}  // namespace

Codec jpegCodec() {
    return {"jpeg", sniffJpeg, readJpegHeader};
}

}  // namespace cliptint
