#include "clipboard/x11_clipboard.hpp"

#include <optional>

#include "clipboard/x11_owner.hpp"
#include "clipboard/x11_read.hpp"
#include "clipboard/x11_session.hpp"

namespace cliptint {

namespace {

// image/png and image/tiff are the targets of the two picture types.
class X11Clipboard final : public Clipboard {
  public:
    explicit X11Clipboard(x11::Session session) : session_(std::move(session)) {}

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        // An owner that missed one deadline is not asked again: the run would only wait twice.
        if (ownerStalled_) return std::nullopt;
        if (!readDeadline_) readDeadline_ = Clock::now() + kReadLimit;
        const x11::Atoms& atoms = session_.atoms;
        auto conversion =
            x11::convertClipboard(session_, type == PictureType::png ? atoms.png : atoms.tiff,
                                  kMaxInputBytes, *readDeadline_);
        if (!conversion) return std::unexpected(conversion.error());
        ownerStalled_ = conversion->ownerStalled;
        return std::move(conversion->bytes);
    }

    // Taking the selection in put replaces whatever the clipboard held, so nothing is removed
    // first, and a put that fails leaves the old picture in place.
    Result<void> clear() override { return {}; }

    // The serving process opens its own connection; this one is not needed for writing.
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        if (type != PictureType::png) return std::unexpected("write");
        return x11::ownClipboard(bytes);
    }

  private:
    x11::Session session_;
    bool ownerStalled_ = false;
    std::optional<Deadline> readDeadline_;  // set by the first read
};

}  // namespace

std::unique_ptr<Clipboard> connectX11Clipboard() {
    auto session = x11::openSession();
    if (!session) return nullptr;
    return std::make_unique<X11Clipboard>(std::move(*session));
}

}  // namespace cliptint
