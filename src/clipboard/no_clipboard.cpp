#include "clipboard/clipboard.hpp"

namespace cliptint {

namespace {

// A clipboard that reaches no clipboard service: every use answers "no clipboard".
class NoClipboard final : public Clipboard {
public:
    Result<std::optional<Bytes>> dataForType(PictureType) override { return unreachable(); }
    Result<void> clear() override { return std::unexpected("no clipboard"); }
    Result<void> put(PictureType, std::span<const std::uint8_t>) override {
        return std::unexpected("no clipboard");
    }

private:
    static Result<std::optional<Bytes>> unreachable() { return std::unexpected("no clipboard"); }
};

}  // namespace

std::unique_ptr<Clipboard> obtainClipboard() { return std::make_unique<NoClipboard>(); }

}  // namespace cliptint
