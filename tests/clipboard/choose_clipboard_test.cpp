// The lazy choice between clipboard services, with fake services that count their connections.

#include <gtest/gtest.h>

#include <string>

#include "clipboard/choose_clipboard.hpp"

namespace cliptint::test {
namespace {

// A clipboard that answers with its own name, so a test sees which service served a call.
class NamedClipboard final : public Clipboard {
  public:
    explicit NamedClipboard(std::string name) : name_(std::move(name)) {}
    Result<std::optional<Bytes>> dataForType(PictureType) override {
        return Bytes(name_.begin(), name_.end());
    }
    Result<void> clear() override { return std::unexpected(name_ + " clear"); }
    Result<void> put(PictureType, std::span<const std::uint8_t>) override {
        return std::unexpected(name_ + " put");
    }

  private:
    std::string name_;
};

struct Service {
    std::string name;
    bool present;
    int connections = 0;

    ClipboardConnector connector() {
        return [this]() -> std::unique_ptr<Clipboard> {
            ++connections;
            if (!present) return nullptr;
            return std::make_unique<NamedClipboard>(name);
        };
    }
};

std::string servedBy(Clipboard& pb) {
    const auto data = pb.dataForType(PictureType::png);
    if (!data) return "ERR " + data.error();
    return std::string((*data)->begin(), (*data)->end());
}

TEST(ChooseClipboard, ConnectsToNothingUntilFirstUsed) {
    Service wayland{"wayland", true}, x11{"x11", true};
    const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
    EXPECT_EQ(wayland.connections, 0);
    EXPECT_EQ(x11.connections, 0);
}

struct ChoiceCase {
    bool wayland, x11;
    const char* served;
    int x11Connections;  // X11 is tried only when Wayland is not there
};

TEST(ChooseClipboard, PrefersWaylandThenX11ThenNone) {
    const ChoiceCase cases[] = {
        {true, true, "wayland", 0},
        {true, false, "wayland", 0},
        {false, true, "x11", 1},
        {false, false, "ERR no clipboard", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("wayland ") + (c.wayland ? "present" : "absent") + ", x11 " +
                     (c.x11 ? "present" : "absent"));
        Service wayland{"wayland", c.wayland}, x11{"x11", c.x11};
        const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
        EXPECT_EQ(servedBy(*pb), c.served);
        EXPECT_EQ(wayland.connections, 1);
        EXPECT_EQ(x11.connections, c.x11Connections);
    }
}

TEST(ChooseClipboard, ReadAndWriteReachTheSameServiceChosenOnce) {
    Service wayland{"wayland", false}, x11{"x11", true};
    const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
    EXPECT_EQ(servedBy(*pb), "x11");
    EXPECT_EQ(pb->clear().error(), "x11 clear");
    const std::uint8_t png[] = {1, 2, 3};
    EXPECT_EQ(pb->put(PictureType::png, png).error(), "x11 put");
    EXPECT_EQ(wayland.connections, 1);
    EXPECT_EQ(x11.connections, 1);
}

TEST(ChooseClipboard, NoServiceAnswersNoClipboardForEveryCallWithoutRetrying) {
    Service wayland{"wayland", false}, x11{"x11", false};
    const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
    const std::uint8_t png[] = {1};
    EXPECT_EQ(pb->dataForType(PictureType::tiff).error(), "no clipboard");
    EXPECT_EQ(pb->clear().error(), "no clipboard");
    EXPECT_EQ(pb->put(PictureType::png, png).error(), "no clipboard");
    EXPECT_EQ(wayland.connections, 1);
    EXPECT_EQ(x11.connections, 1);
}

}  // namespace
}  // namespace cliptint::test
