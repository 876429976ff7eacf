#include "clipboard/clipboard.hpp"

#include <utility>

namespace cliptint {

// PNG data that is present counts even if it will not decode: TIFF is asked for only when the
// clipboard holds no PNG at all.
Result<std::optional<Bytes>> readClipboard(Clipboard& pb) {
    auto png = pb.dataForType(PictureType::png);
    if (!png || *png) return png;
    return pb.dataForType(PictureType::tiff);
}

Result<void> writeClipboard(Clipboard& pb, std::span<const std::uint8_t> png) {
    if (auto cleared = pb.clear(); !cleared) return cleared;
    return pb.put(PictureType::png, png);
}

Result<Bytes> copyData(std::span<const std::uint8_t> data, std::int64_t maxBytes) {
    if (std::cmp_greater(data.size(), maxBytes)) return std::unexpected("picture size");
    return Bytes(data.begin(), data.end());
}

}  // namespace cliptint
