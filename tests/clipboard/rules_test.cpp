// The rules of reading and writing the clipboard and of choosing one, over an in-memory clipboard.

#include <gtest/gtest.h>

#include <map>

#include "clipboard/choose_clipboard.hpp"

namespace cliptint::test {
namespace {

// Holds bytes under types, logs every call ("png", "tiff", "clear", "put"), and fails the one
// named in failing, with its name as the error.
struct FakeClipboard final : Clipboard {
    std::map<PictureType, Bytes> held;
    std::string failing, log;

    bool fails(const std::string& call) {
        log += call + " ";
        return call == failing;
    }
    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        const std::string call = type == PictureType::png ? "png" : "tiff";
        if (fails(call)) return std::unexpected(call);
        return held.contains(type) ? std::optional(held[type]) : std::nullopt;
    }
    Result<void> clear() override {
        if (fails("clear")) return std::unexpected("clear");
        held.clear();
        return {};
    }
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        if (fails("put")) return std::unexpected("put");
        held[type].assign(bytes.begin(), bytes.end());
        return {};
    }
};

const Bytes kPng{0x89, 'P'}, kTiff{'I', 'I'}, kJunk{'n', 'o'};

std::string show(const Result<std::optional<Bytes>>& read) {
    if (!read) return "ERR " + read.error();
    if (!*read) return "none";
    return std::string((*read)->begin(), (*read)->end());
}
std::string show(const Result<void>& done) {
    return done ? "" : "ERR " + done.error();
}

// A read takes the PNG, else the TIFF; a write replaces everything by the PNG, and leaves the
// clipboard as it was when the clearing fails. What the real clipboards show is pinned there: a
// TIFF alone read, and nothing (Backends/RoundTrip), a failed PNG read that asks for no TIFF
// (X11Peers, an oversize owner), a failed put (X11Peers and WaylandPeer).
TEST(ClipboardRules, ReadTakesTiffOnlyWithoutPngAndWriteReplacesEverything) {
    struct Case {
        std::optional<Bytes> png, tiff;
        std::string failing;
        bool write;
        std::string result, log;
    };
    const Case cases[] = {
        // Present but not a PNG: decoding fails later, TIFF is not a fallback for it.
        {kJunk, kTiff, "", false, "no", "png "},
        {Bytes{}, kTiff, "", false, "", "png "},
        {std::nullopt, kTiff, "tiff", false, "ERR tiff", "png tiff "},
        {std::nullopt, kTiff, "", true, "", "clear put "},
        {std::nullopt, kTiff, "clear", true, "ERR clear", "clear "},
    };
    for (const auto& c : cases) {
        FakeClipboard pb;
        if (c.png) pb.held[PictureType::png] = *c.png;
        if (c.tiff) pb.held[PictureType::tiff] = *c.tiff;
        pb.failing = c.failing;
        EXPECT_EQ(c.write ? show(writeClipboard(pb, kPng)) : show(readClipboard(pb)), c.result);
        EXPECT_EQ(pb.log, c.log) << c.result;
        const auto png = std::map<PictureType, Bytes>{{PictureType::png, kPng}};
        EXPECT_EQ(pb.held == png, c.write && c.failing.empty()) << c.result;
    }
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
        EXPECT_EQ(show(writeClipboard(*pb, kPng)), failure);
        EXPECT_EQ(show(pb->dataForType(PictureType::png)), failure.empty() ? "\x89P" : failure);
        EXPECT_EQ(connected, c.connected) << c.read;
    }
}

}  // namespace
}  // namespace cliptint::test
