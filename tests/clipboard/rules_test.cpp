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

    Result<void> call(const std::string& name) {
        log += name + " ";
        if (name == failing) return std::unexpected(name);
        return {};
    }
    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        if (auto ok = call(type == PictureType::png ? "png" : "tiff"); !ok)
            return std::unexpected(ok.error());
        if (!held.contains(type)) return std::nullopt;
        return held[type];
    }
    Result<void> clear() override {
        auto ok = call("clear");
        if (ok) held.clear();
        return ok;
    }
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        auto ok = call("put");
        if (ok) held[type].assign(bytes.begin(), bytes.end());
        return ok;
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

TEST(ClipboardRules, ReadTakesPngElseTiffOnlyWhenThereIsNoPngAtAll) {
    struct Case {
        std::optional<Bytes> png, tiff;
        std::string failing, read, log;
    };
    const Case cases[] = {
        // Present but not a PNG: decoding fails later, TIFF is not a fallback for it.
        {kJunk, kTiff, "", "no", "png "},
        {Bytes{}, kTiff, "", "", "png "},
        {std::nullopt, kTiff, "", "II", "png tiff "},
        {std::nullopt, std::nullopt, "", "none", "png tiff "},  // text only
        {kPng, kTiff, "png", "ERR png", "png "},
        {std::nullopt, kTiff, "tiff", "ERR tiff", "png tiff "},
    };
    for (const auto& c : cases) {
        FakeClipboard pb;
        if (c.png) pb.held[PictureType::png] = *c.png;
        if (c.tiff) pb.held[PictureType::tiff] = *c.tiff;
        pb.failing = c.failing;
        EXPECT_EQ(show(readClipboard(pb)), c.read) << c.log;
        EXPECT_EQ(pb.log, c.log) << c.read;
    }
}

TEST(ClipboardRules, WriteReplacesEverythingByThePngOrFailsAsTheClipboardDoes) {
    for (const std::string failing : {"", "put", "clear"}) {
        FakeClipboard pb;
        pb.held[PictureType::tiff] = kTiff;
        pb.failing = failing;
        EXPECT_EQ(show(writeClipboard(pb, kPng)), failing.empty() ? "" : "ERR " + failing);
        EXPECT_EQ(pb.log, failing == "clear" ? "clear " : "clear put ");
        EXPECT_EQ(pb.held == (std::map<PictureType, Bytes>{{PictureType::png, kPng}}),
                  failing.empty());
    }
}

// Connectors that count their calls and hand out fakes holding their own name as PNG data.
struct Service {
    std::string name;
    bool present;
    int connections = 0;
    ClipboardConnector connector() {
        return [this]() -> std::unique_ptr<Clipboard> {
            ++connections;
            if (!present) return nullptr;
            auto pb = std::make_unique<FakeClipboard>();
            pb->held[PictureType::png] = Bytes(name.begin(), name.end());
            return pb;
        };
    }
};

TEST(ChooseClipboard, TriesEachServiceOnceAtFirstUseAndKeepsTheChoiceForWriting) {
    struct Case {
        bool wayland, x11;
        std::string read;  // the first read
        int x11Connections;
    };
    const Case cases[] = {
        {true, true, "wayland", 0},
        {true, false, "wayland", 0},
        {false, true, "x11", 1},
        {false, false, "ERR no clipboard", 1},
    };
    for (const auto& c : cases) {
        Service wayland{"wayland", c.wayland}, x11{"x11", c.x11};
        const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
        EXPECT_EQ(wayland.connections + x11.connections, 0) << "connected before first use";
        EXPECT_EQ(show(readClipboard(*pb)), c.read);
        const std::string failure = c.read.starts_with("ERR ") ? c.read : "";
        EXPECT_EQ(show(writeClipboard(*pb, kPng)), failure);
        EXPECT_EQ(show(pb->put(PictureType::png, kPng)), failure);
        EXPECT_EQ(show(pb->dataForType(PictureType::png)), failure.empty() ? "\x89P" : failure);
        EXPECT_EQ(wayland.connections, 1) << c.read;
        EXPECT_EQ(x11.connections, c.x11Connections) << c.read;
    }
}

}  // namespace
}  // namespace cliptint::test
