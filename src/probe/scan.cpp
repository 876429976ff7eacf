#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "probe/probe.hpp"

namespace cliptint {

namespace {

constexpr double kStrayDistance = 90.0;  // sum of absolute channel differences
constexpr double kMaxStrayShare = 0.06;  // of the solid pixels; this share is already too many
constexpr double kMinClearShare = 0.15;  // of all pixels; this share is not yet enough

// The passes look at 16 pixels (one 64-byte cache line) at a time: a glyph's ground is mostly
// blocks of fully clear pixels, all of whose bytes are 0 once premultiplied, and a photo is mostly
// blocks of opaque pixels, whose un-premultiplied values are their bytes. Every other block, and
// the end of a row, goes through the pixel-by-pixel code that follows the definition literally.
constexpr std::int64_t kBlockPixels = 16;
constexpr int kBlockWords = 8;  // 64-bit words of a block, two pixels each

constexpr std::uint64_t kAlphaBytes = 0xFF00'0000'FF00'0000u;  // of a word loaded by loadWord
constexpr std::uint64_t kEvenBytes = 0x00FF'00FF'00FF'00FFu;   // red and blue of both pixels
constexpr std::uint64_t kLow16 = 0xFFFFu;

// Two pixels, the first one's red in the low byte whatever the machine's byte order.
std::uint64_t loadWord(const std::uint8_t* p) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

enum class Block { clear, opaque, other };

// clear: every byte 0 (so every alpha 0); opaque: every alpha 255.
Block classifyBlock(const std::uint8_t* block) {
    std::uint64_t any = 0;
    std::uint64_t all = ~std::uint64_t{0};
    for (int k = 0; k < kBlockWords; ++k) {
        const std::uint64_t word = loadWord(block + 8 * k);
        any |= word;
        all &= word;
    }
    if (any == 0) return Block::clear;
    if ((all & kAlphaBytes) == kAlphaBytes) return Block::opaque;
    return Block::other;
}

// The un-premultiplied value of a solid pixel's channel: for alpha 255, byte * 255 / 255 is the
// byte exactly, so only the other solid alphas pay for the division.
double solidChan(const std::uint8_t* p, int k) {
    if (p[3] == 255) return static_cast<double>(p[k]);
    return chan(p, 0, k);
}

void widenBox(ProbeStats& s, std::int64_t firstX, std::int64_t lastX, std::int64_t y) {
    s.minX = std::min(s.minX, firstX);
    s.maxX = std::max(s.maxX, lastX);
    s.minY = std::min(s.minY, y);
    s.maxY = std::max(s.maxY, y);
}

// Pixels from..to-1 of row y, one at a time, each as the definition of the first pass says.
void firstPassPixels(const std::uint8_t* row, std::int64_t from, std::int64_t to, std::int64_t y,
                     ProbeStats& s) {
    for (std::int64_t x = from; x < to; ++x) {
        const std::uint8_t* p = row + 4 * x;
        const std::uint8_t a = p[3];
        if (a <= kClearMaxAlpha) {
            ++s.clear;
            continue;
        }
        if (a < kVisibleMinAlpha) continue;
        widenBox(s, x, x, y);
        if (a < kSolidMinAlpha) continue;
        ++s.drawn;
        s.sr += solidChan(p, 0);
        s.sg += solidChan(p, 1);
        s.sb += solidChan(p, 2);
    }
}

// The sums of the red, green and blue bytes of a block. Each 16-bit lane of the word sums adds
// one byte of each of the 8 words, so it stays below 8 * 255.
std::array<std::uint32_t, 3> blockColourSums(const std::uint8_t* block) {
    std::uint64_t redBlue = 0;
    std::uint64_t greenAlpha = 0;
    for (int k = 0; k < kBlockWords; ++k) {
        const std::uint64_t word = loadWord(block + 8 * k);
        redBlue += word & kEvenBytes;
        greenAlpha += (word >> 8) & kEvenBytes;
    }
    const auto lanes = [](std::uint64_t w, int first) {
        return static_cast<std::uint32_t>(((w >> (16 * first)) & kLow16) +
                                          ((w >> (16 * first + 32)) & kLow16));
    };
    return {lanes(redBlue, 0), lanes(greenAlpha, 0), lanes(redBlue, 1)};
}

// The sums must come out bit for bit as adding every value in turn in row-major order. For a block
// of opaque pixels every value is a whole number, and adding the block's total at once gives the
// same double as adding its 16 values in turn whenever the sum stays within its binade:
// - No sum reaches 2^34 (255 * kMaxPixels < 2^34), so the spacing u of the doubles next to a
//   non-zero sum is at most 2^(33-52), and every whole number is a multiple of u.
// - Let the sum be s in [2^e, 2^(e+1)), a multiple of its spacing u, and the total t >= 0. When the
//   rounded s + t is still below 2^(e+1), so is the exact s + t (rounding is monotone and 2^(e+1)
//   is a double). Each partial sum s + v1 + ... + vj lies between s and s + t, so it is in the
//   same binade and a multiple of u: a double. Every addition in turn is then exact, and so is the
//   one addition of t: both give the exact s + t.
// - When the binade changes (a few dozen times per channel and scan), or s is 0 and t is not, the
//   values are added in turn.
static_assert(255.0 * static_cast<double>(kMaxPixels) < 0x1p34);

std::uint64_t exponentBits(double value) {
    return std::bit_cast<std::uint64_t>(value) >> 52;
}

void addOpaqueTotal(double& sum, std::uint32_t total, const std::uint8_t* block, int k) {
    const double next = sum + static_cast<double>(total);
    if (exponentBits(next) == exponentBits(sum)) {
        sum = next;
        return;
    }
    for (std::int64_t i = 0; i < kBlockPixels; ++i) {
        sum += static_cast<double>(block[4 * i + k]);
    }
}

void firstPassOpaqueBlock(const std::uint8_t* block, std::int64_t x, std::int64_t y,
                          ProbeStats& s) {
    widenBox(s, x, x + kBlockPixels - 1, y);
    s.drawn += kBlockPixels;
    const auto totals = blockColourSums(block);
    addOpaqueTotal(s.sr, totals[0], block, 0);
    addOpaqueTotal(s.sg, totals[1], block, 1);
    addOpaqueTotal(s.sb, totals[2], block, 2);
}

void firstPass(const Canvas& canvas, ProbeStats& s) {
    const std::uint8_t* px = canvas.px();
    s.minX = canvas.w;
    s.minY = canvas.h;
    const std::int64_t blocksEnd = canvas.w - canvas.w % kBlockPixels;
    for (std::int64_t y = 0; y < canvas.h; ++y) {
        const std::uint8_t* row = px + 4 * canvas.w * y;
        for (std::int64_t x = 0; x < blocksEnd; x += kBlockPixels) {
            const std::uint8_t* block = row + 4 * x;
            switch (classifyBlock(block)) {
                case Block::clear:
                    s.clear += kBlockPixels;
                    break;
                case Block::opaque:
                    firstPassOpaqueBlock(block, x, y, s);
                    break;
                case Block::other:
                    firstPassPixels(row, x, x + kBlockPixels, y, s);
                    break;
            }
        }
        firstPassPixels(row, blocksEnd, canvas.w, y, s);
    }
    // 1.0 per solid pixel: a whole number below 2^53 at every step, so exactly the count.
    s.sw = static_cast<double>(s.drawn);
}

// Whether a solid pixel lies more than kStrayDistance from the mean. The distance is summed red,
// green, then blue, as the definition says; for alpha 255 each term is one of 256 values, computed
// once with the very same operations.
class StrayTest {
  public:
    explicit StrayTest(const ProbeStats& s) : mean_{s.mr, s.mg, s.mb} {
        for (int k = 0; k < 3; ++k) {
            for (int v = 0; v < 256; ++v)
                term_[k][v] = std::fabs(static_cast<double>(v) - mean_[k]);
        }
    }

    bool opaque(const std::uint8_t* p) const {
        return term_[0][p[0]] + term_[1][p[1]] + term_[2][p[2]] > kStrayDistance;
    }

    bool solid(const std::uint8_t* p) const {
        if (p[3] == 255) return opaque(p);
        return std::fabs(chan(p, 0, 0) - mean_[0]) + std::fabs(chan(p, 0, 1) - mean_[1]) +
                   std::fabs(chan(p, 0, 2) - mean_[2]) >
               kStrayDistance;
    }

  private:
    std::array<double, 3> mean_;
    std::array<std::array<double, 256>, 3> term_{};
};

std::int64_t strayPixels(const std::uint8_t* p, std::int64_t count, const StrayTest& test) {
    std::int64_t stray = 0;
    for (std::int64_t i = 0; i < count; ++i, p += 4) {
        if (p[3] >= kSolidMinAlpha && test.solid(p)) ++stray;
    }
    return stray;
}

// Without a branch per pixel: in a photo, stray and near pixels alternate unpredictably.
std::int64_t opaqueStrayPixels(const std::uint8_t* block, const StrayTest& test) {
    std::int64_t stray = 0;
    for (std::int64_t i = 0; i < kBlockPixels; ++i)
        stray += test.opaque(block + 4 * i) ? 1 : 0;
    return stray;
}

// A block of 16 copies of one pixel, as inside a glyph: one test stands for all.
bool uniformBlock(const std::uint8_t* block) {
    const std::uint64_t first = loadWord(block);
    if ((first & 0xFFFF'FFFFu) != (first >> 32)) return false;
    for (int k = 1; k < kBlockWords; ++k) {
        if (loadWord(block + 8 * k) != first) return false;
    }
    return true;
}

std::int64_t countStrays(const Canvas& canvas, const ProbeStats& s) {
    const StrayTest test(s);
    const std::uint8_t* px = canvas.px();
    const std::int64_t pixels = canvas.w * canvas.h;
    const std::int64_t blocksEnd = pixels - pixels % kBlockPixels;
    std::int64_t stray = 0;
    for (std::int64_t i = 0; i < blocksEnd; i += kBlockPixels) {
        const std::uint8_t* block = px + 4 * i;
        const Block kind = classifyBlock(block);
        if (kind == Block::clear) continue;
        if (kind == Block::other) {
            stray += strayPixels(block, kBlockPixels, test);
        } else if (uniformBlock(block)) {
            stray += test.opaque(block) ? kBlockPixels : 0;
        } else {
            stray += opaqueStrayPixels(block, test);
        }
    }
    return stray + strayPixels(px + 4 * blocksEnd, pixels - blocksEnd, test);
}

bool decideMono(const ProbeStats& s) {
    if (s.drawn == 0) return false;
    if (static_cast<double>(s.stray) / static_cast<double>(s.drawn) >= kMaxStrayShare) return false;
    return s.clearShare > kMinClearShare;
}

std::string formatHex(double r, double g, double b) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X%02X%02X", static_cast<unsigned>(std::llround(r)),
                  static_cast<unsigned>(std::llround(g)), static_cast<unsigned>(std::llround(b)));
    return text;
}

// "%.4f" with a full stop whatever the locale: to_chars never consults it.
void appendFraction(std::string& out, double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 4);
    out.append(text, end.ptr);
}

std::string formatBox(const Canvas& canvas, const ProbeStats& s) {
    const double w = static_cast<double>(canvas.w);
    const double h = static_cast<double>(canvas.h);
    std::string box;
    appendFraction(box, static_cast<double>(s.minX) / w);
    box += ' ';
    appendFraction(box, static_cast<double>(s.minY) / h);
    box += ' ';
    appendFraction(box, static_cast<double>(s.maxX + 1) / w);
    box += ' ';
    appendFraction(box, static_cast<double>(s.maxY + 1) / h);
    return box;
}

}  // namespace

Result<ProbeStats> scanCanvas(const Canvas& canvas) {
    ProbeStats s;
    firstPass(canvas, s);
    if (s.maxX < 0) return std::unexpected("empty picture");

    if (s.sw > 0.0) {
        s.mr = s.sr / s.sw;
        s.mg = s.sg / s.sw;
        s.mb = s.sb / s.sw;
    }
    s.stray = countStrays(canvas, s);
    s.clearShare = static_cast<double>(s.clear) / static_cast<double>(canvas.w * canvas.h);
    s.mono = decideMono(s);
    s.hex = formatHex(s.mr, s.mg, s.mb);
    s.box = formatBox(canvas, s);
    s.line = (s.mono ? "MONO " : "MULTI ") + s.hex + ' ' + s.box;
    return s;
}

}  // namespace cliptint
