// The rules of reading and writing the clipboard and of choosing one, over an in-memory clipboard.

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "clipboard/choose_clipboard.hpp"

namespace cliptint::test {
namespace {

// Holds bytes under types, logs every call, and fails the calls it is told to.
class FakeClipboard final : public Clipboard {
  public:
    std::map<PictureType, Bytes> held;
    std::map<std::string, std::string> failures;  // call -> its error
    std::string log;                              // one word per call: "png", "clear", ...

    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        const std::string call = type == PictureType::png ? "png" : "tiff";
        if (auto failed = fails(call)) return std::unexpected(*failed);
        const auto found = held.find(type);
        if (found == held.end()) return std::nullopt;
        return found->second;
    }
    Result<void> clear() override {
        if (auto failed = fails("clear")) return std::unexpected(*failed);
        held.clear();
        return {};
    }
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        if (auto failed = fails("put")) return std::unexpected(*failed);
        held[type].assign(bytes.begin(), bytes.end());
        return {};
    }

  private:
    std::optional<std::string> fails(const std::string& call) {
        log += call + " ";
        const auto found = failures.find(call);
        if (found == failures.end()) return std::nullopt;
        return found->second;
    }
};

const Bytes kPng{0x89, 'P'}, kTiff{'I', 'I'}, kJunk{'n', 'o'};

std::string show(const Result<std::optional<Bytes>>& read) {
    if (!read) return "ERR " + read.error();
    if (!*read) return "none";
    return std::string((*read)->begin(), (*read)->end());
}

TEST(ClipboardRules, ReadTakesPngElseTiffOnlyWhenThereIsNoPngAtAll) {
    struct Case {
        const char* name;
        std::optional<Bytes> png, tiff;
        std::map<std::string, std::string> failures;
        std::string read, log;
    };
    const Case cases[] = {
        {"PNG and TIFF", kPng, kTiff, {}, "\x89P", "png "},
        // Present but not a PNG: decoding fails later, TIFF is not a fallback for it.
        {"undecodable PNG beside TIFF", kJunk, kTiff, {}, "no", "png "},
        {"empty PNG beside TIFF", Bytes{}, kTiff, {}, "", "png "},
        {"TIFF only", std::nullopt, kTiff, {}, "II", "png tiff "},
        {"neither (text only)", std::nullopt, std::nullopt, {}, "none", "png tiff "},
        {"PNG read fails",
         std::nullopt,
         kTiff,
         {{"png", "picture size"}},
         "ERR picture size",
         "png "},
        {"TIFF read fails",
         std::nullopt,
         kTiff,
         {{"tiff", "no clipboard"}},
         "ERR no clipboard",
         "png tiff "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClipboard pb;
        if (c.png) pb.held[PictureType::png] = *c.png;
        if (c.tiff) pb.held[PictureType::tiff] = *c.tiff;
        pb.failures = c.failures;
        EXPECT_EQ(show(readClipboard(pb)), c.read);
        EXPECT_EQ(pb.log, c.log);
    }
}

TEST(ClipboardRules, WriteReplacesEverythingByThePngOrFailsAsTheClipboardDoes) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> failures;
        std::string error;  // "" for success
        bool pngOnly;       // afterwards the clipboard holds the PNG and nothing else
    };
    const Case cases[] = {
        {"both succeed", {}, "", true},
        {"put fails", {{"put", "write"}}, "write", false},
        {"clear fails", {{"clear", "no clipboard"}}, "no clipboard", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClipboard pb;
        pb.held[PictureType::tiff] = kTiff;
        pb.failures = c.failures;
        const auto written = writeClipboard(pb, kPng);
        EXPECT_EQ(written ? "" : written.error(), c.error);
        EXPECT_EQ(pb.held == (std::map<PictureType, Bytes>{{PictureType::png, kPng}}), c.pngOnly);
        EXPECT_EQ(pb.log, c.failures.contains("clear") ? "clear " : "clear put ");
    }
}

// Connectors that count their calls and hand out fakes holding their own name as PNG data.
struct Service {
    const char* name;
    bool present;
    int connections = 0;
    FakeClipboard* made = nullptr;
    ClipboardConnector connector() {
        return [this]() -> std::unique_ptr<Clipboard> {
            ++connections;
            if (!present) return nullptr;
            auto pb = std::make_unique<FakeClipboard>();
            pb->held[PictureType::png] = Bytes(name, name + std::strlen(name));
            made = pb.get();
            return pb;
        };
    }
};

TEST(ChooseClipboard, TriesEachServiceOnceAtFirstUseAndKeepsTheChoiceForWriting) {
    struct Case {
        bool wayland, x11;
        const char* read;  // the first read, and every one after it
        int x11Connections;
    };
    const Case cases[] = {
        {true, true, "wayland", 0},
        {true, false, "wayland", 0},
        {false, true, "x11", 1},
        {false, false, "ERR no clipboard", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.wayland) + std::to_string(c.x11));
        Service wayland{"wayland", c.wayland}, x11{"x11", c.x11};
        const auto pb = chooseClipboard({wayland.connector(), x11.connector()});
        EXPECT_EQ(wayland.connections + x11.connections, 0) << "connected before first use";
        EXPECT_EQ(show(pb->dataForType(PictureType::png)), c.read);
        const auto written = writeClipboard(*pb, kPng);
        EXPECT_EQ(show(pb->dataForType(PictureType::png)), written ? "\x89P" : c.read);
        EXPECT_EQ(written ? "" : written.error(), c.wayland || c.x11 ? "" : "no clipboard");
        const auto put = pb->put(PictureType::png, kPng);
        EXPECT_EQ(put ? "" : put.error(), written ? "" : "no clipboard");
        EXPECT_EQ(pb->clear() ? "" : pb->clear().error(), written ? "" : "no clipboard");
        EXPECT_EQ(wayland.connections, 1);
        EXPECT_EQ(x11.connections, c.x11Connections);
        FakeClipboard* chosen = c.wayland ? wayland.made : x11.made;
        if (chosen != nullptr) {
            EXPECT_EQ(chosen->log, "png clear put png put clear ");
        }
    }
}

}  // namespace
}  // namespace cliptint::test
