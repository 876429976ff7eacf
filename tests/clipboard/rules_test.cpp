// The rules of choosing a clipboard and of taking over its data, over an in-memory clipboard. (The
// rules of reading and writing are pinned on the real clipboards: PNG before TIFF, a PNG that does
// not decode, and everything replaced by the PNG on GNUstep's pasteboard, which holds several
// types at once (Backends/RoundTrip); a failed read that asks for no TIFF in X11Peers.)

#include <gtest/gtest.h>

#include <map>

#include "clipboard/choose_clipboard.hpp"

namespace cliptint::test {
namespace {

// Holds bytes under types.
struct FakeClipboard final : Clipboard {
    std::map<PictureType, Bytes> held;

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        return held.contains(type) ? std::optional(held[type]) : std::nullopt;
    }
    Result<void> clear() override { return {}; }
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        held[type].assign(bytes.begin(), bytes.end());
        return {};
    }
};

const Bytes kPng{0x89, 'P'};

std::string show(const Result<std::optional<Bytes>>& read) {
    if (!read) return "ERR " + read.error();
    if (!*read) return "none";
    return std::string((*read)->begin(), (*read)->end());
}

// Data a service hands over whole (AppKit's) is copied up to the bound and no further.
TEST(ClipboardRules, CopiesHandedOverDataUpToTheBoundAndNoMore) {
    const Bytes data(100, 'p');
    EXPECT_EQ(copyData(data, 100), data);
    EXPECT_EQ(copyData(data, 99), std::unexpected("picture size"));
}

TEST(ChooseClipboard, TriesEachServiceOnceAtFirstUseAndKeepsTheChoiceForWriting) {
    struct Case {
        bool wayland, x11;
        std::string read, connected;  // the first read; the connectors called
    };
    const Case cases[] = {
        {true, true, "wayland", "wayland "},
        {false, true, "x11", "wayland x11 "},
        {false, false, "ERR no clipboard", "wayland x11 "},
    };
    for (const auto& c : cases) {
        std::string connected;
        // A service there hands out a clipboard holding its name as PNG data.
        const auto service = [&](std::string name, bool there) -> ClipboardConnector {
            return [&connected, name, there] {
                connected += name + " ";
                auto pb = std::make_unique<FakeClipboard>();
                pb->held[PictureType::png] = Bytes(name.begin(), name.end());
                return there ? std::move(pb) : nullptr;
            };
        };
        const auto pb = chooseClipboard({service("wayland", c.wayland), service("x11", c.x11)});
        EXPECT_EQ(connected, "") << "connected before first use";
        EXPECT_EQ(show(readClipboard(*pb)), c.read);
        const std::string failure = c.read.starts_with("ERR ") ? c.read : "";
        const auto written = writeClipboard(*pb, kPng);
        EXPECT_EQ(written ? "" : "ERR " + written.error(), failure);
        EXPECT_EQ(show(pb->dataForType(PictureType::png)), failure.empty() ? "\x89P" : failure);
        EXPECT_EQ(connected, c.connected) << c.read;
    }
}

}  // namespace
}  // namespace cliptint::test
