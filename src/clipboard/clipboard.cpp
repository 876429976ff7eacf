#include "clipboard/clipboard.hpp"

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

}  // namespace cliptint
