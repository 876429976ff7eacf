#include "clipboard/choose_clipboard.hpp"

#include <utility>

namespace cliptint {

namespace {

class ChosenClipboard final : public Clipboard {
  public:
    explicit ChosenClipboard(std::vector<ClipboardConnector> connectors)
        : connectors_(std::move(connectors)) {}

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        Clipboard* chosen = choose();
        if (chosen == nullptr) return std::unexpected("no clipboard");
        return chosen->dataForType(type);
    }

    Result<void> clear() override {
        Clipboard* chosen = choose();
        if (chosen == nullptr) return std::unexpected("no clipboard");
        return chosen->clear();
    }

    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        Clipboard* chosen = choose();
        if (chosen == nullptr) return std::unexpected("no clipboard");
        return chosen->put(type, bytes);
    }

  private:
    // The read and the write of one run must reach the same clipboard, so the choice is made
    // once and kept, including the choice of none.
    Clipboard* choose() {
        if (!chosen_) {
            chosen_.emplace();
            for (auto& connect : connectors_) {
                if ((*chosen_ = connect()) != nullptr) break;
            }
        }
        return chosen_->get();
    }

    std::vector<ClipboardConnector> connectors_;
    std::optional<std::unique_ptr<Clipboard>> chosen_;  // empty until the first use
};

}  // namespace

std::unique_ptr<Clipboard> chooseClipboard(std::vector<ClipboardConnector> connectors) {
    return std::make_unique<ChosenClipboard>(std::move(connectors));
}

}  // namespace cliptint
