#include <cstring>
#include <future>
#include <sstream>

#include "clipboard/pictures.hpp"
#include "clipboard/x11_fixture.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

class X11Write : public X11Fixture {
  protected:
    std::string blackPng = pngOf(glyph(0, 0, 0));

    // Paints the picture on the clipboard; returns the --file paint's reply and PNG for it.
    std::pair<std::string, std::string> paintFromClipboard(const std::string& png) {
        offerByXclip("image/png", png);
        const auto run = tool({"paint", "3366cc"});
        const auto expected = fileRun(png, {"paint", "3366cc"});
        EXPECT_EQ(run.out, expected.first);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.out.rfind("MONO 3366CC", 0), 0u) << run.out;
        return expected;
    }

    std::vector<std::string> targets() {
        std::vector<std::string> names;
        std::istringstream lines(clipboardAs("TARGETS"));
        for (std::string name; std::getline(lines, name);)
            names.push_back(name);
        return names;
    }
};

TEST_F(X11Write, XclipReadsThePaintedPngAndOnlyPng) {
    const auto [reply, painted] = paintFromClipboard(blackPng);
    const std::string served = clipboardAs("image/png");
    EXPECT_EQ(served, painted);

    const auto picture = decodeWithLibpng(served);
    ASSERT_FALSE(picture.rgba.empty());
    const Canvas original = glyph(0, 0, 0);
    for (std::int64_t i = 0; i < picture.w * picture.h; ++i) {
        const std::uint8_t* p = &picture.rgba[i * 4];
        ASSERT_EQ(p[3], original.px()[i * 4 + 3]) << "alpha of pixel " << i;
        if (p[3] != 255) continue;
        ASSERT_EQ((std::vector<int>{p[0], p[1], p[2]}), (std::vector<int>{0x33, 0x66, 0xcc}));
    }
    const auto names = targets();
    EXPECT_NE(std::find(names.begin(), names.end(), "image/png"), names.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "image/tiff"), names.end());
}

TEST_F(X11Write, NextRunSeesThePaintedPictureAtOnce) {
    paintFromClipboard(blackPng);
    const auto again = tool({"paint", "ff0000"});
    EXPECT_EQ(again.out.rfind("MONO FF0000", 0), 0u) << again.out;
    const auto probe = tool({"probe"});
    EXPECT_EQ(probe.out, again.out);
}

// `out=$(cliptint paint ...)` waits for the end of the pipe, not of the process: the serving
// child must not hold it.
TEST_F(X11Write, CommandSubstitutionReturnsAtOnce) {
    offerByXclip("image/png", blackPng);
    const auto run = tool({"paint", "3366cc"}, 2s);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("MONO 3366CC", 0), 0u) << run.out;
    EXPECT_EQ(toolProcessesOn(xvfb.display()).size(), 1u);
}

TEST_F(X11Write, ParallelReadersOfALargePictureGetItWhole) {
    const auto [reply, painted] = paintFromClipboard(pngOf(noisyGlyph(800, 600)));
    ASSERT_GT(painted.size(), 512u * 1024) << "too small to go by INCR";
    std::vector<std::future<ToolRun>> readers;
    for (int n = 0; n < 3; ++n) {
        readers.push_back(std::async(std::launch::async, [&] {
            return runProgram({"xclip", "-selection", "clipboard", "-o", "-t", "image/png"}, 30s,
                              xvfb.env());
        }));
    }
    for (auto& reader : readers) {
        const auto run = reader.get();
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out == painted) << run.out.size() << " bytes of " << painted.size();
    }
}

TEST_F(X11Write, ServingProcessEndsWhenAnotherClientTakesTheClipboard) {
    paintFromClipboard(blackPng);
    const auto serving = toolProcessesOn(xvfb.display());
    ASSERT_EQ(serving.size(), 1u);
    offerByXclip("UTF8_STRING", "taken over");
    EXPECT_TRUE(awaitExit(serving[0], 5s));
}

// Requestors that vanish, before or during an INCR transfer, end only their own transfer.
TEST_F(X11Write, SurvivesRequestorsThatVanish) {
    const auto [reply, painted] = paintFromClipboard(pngOf(noisyGlyph(800, 600)));
    // Connected before the first requestor leaves, so the server cannot hand this client the
    // window id that the vanished one used: a stale answer to that window would land here.
    XClient midway(xvfb.display());
    {
        XClient gone(xvfb.display());
        xcb_convert_selection(gone.c(), gone.window(), gone.atom("CLIPBOARD"),
                              gone.atom("image/png"), gone.atom("P"), XCB_CURRENT_TIME);
        xcb_destroy_window(gone.c(), gone.window());
        xcb_flush(gone.c());
    }
    {
        const xcb_atom_t property = midway.atom("P");
        ASSERT_EQ(midway.convert(midway.atom("image/png"), property), property);
        ASSERT_EQ(midway.read(property).type, midway.atom("INCR"));
        xcb_delete_property(midway.c(), midway.window(), property);
        ASSERT_TRUE(midway.awaitProperty(property, XCB_PROPERTY_NEW_VALUE));
    }
    EXPECT_TRUE(clipboardAs("image/png") == painted);
}

// ICCCM 2.6.2: pairs converted in order; the one that cannot be has its property set to None.
TEST_F(X11Write, AnswersMultiple) {
    const auto [reply, painted] = paintFromClipboard(blackPng);
    const xcb_atom_t png = client.atom("P1"), tiff = client.atom("P2"), pairs = client.atom("M");
    client.write32(pairs, client.atom("ATOM_PAIR"),
                   {client.atom("image/png"), png, client.atom("image/tiff"), tiff});
    ASSERT_EQ(client.convert(client.atom("MULTIPLE"), pairs), pairs);

    const auto answered = client.read(pairs);
    ASSERT_EQ(answered.format, 32);
    std::vector<std::uint32_t> items(answered.bytes.size() / 4);
    std::memcpy(items.data(), answered.bytes.data(), items.size() * 4);
    EXPECT_EQ(items, (std::vector<std::uint32_t>{client.atom("image/png"), png,
                                                 client.atom("image/tiff"), XCB_NONE}));
    const auto data = client.read(png);
    EXPECT_EQ(data.type, client.atom("image/png"));
    EXPECT_TRUE(data.bytes == painted);
}

// A run that fails or finds a MULTI picture must not take the clipboard from its owner.
struct UntouchedCase {
    std::string name;
    std::string png;
    std::vector<std::string> words;
    std::string reply;  // "" for the reply of the same run with --file, which must be MULTI
};
void PrintTo(const UntouchedCase& c, std::ostream* os) {
    *os << c.name;
}

class LeavesClipboard : public X11Write, public testing::WithParamInterface<UntouchedCase> {};

TEST_P(LeavesClipboard, ByteForByte) {
    const auto& param = GetParam();
    offerByXclip("image/png", param.png);
    const xcb_window_t owner = client.clipboardOwner();
    const auto run = tool(param.words);
    const std::string reply =
        param.reply.empty() ? fileRun(param.png, param.words).first : param.reply;
    EXPECT_EQ(run.out, reply);
    EXPECT_TRUE(reply.rfind("MULTI ", 0) == 0 || reply.rfind("ERR ", 0) == 0) << reply;
    EXPECT_EQ(client.clipboardOwner(), owner);
    EXPECT_TRUE(clipboardAs("image/png") == param.png);
    EXPECT_TRUE(toolProcessesOn(xvfb.display()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LeavesClipboard,
    testing::Values(
        UntouchedCase{"Multi", pngOf(noise(8, 8)), {"paint", "3366cc"}, ""},
        UntouchedCase{"BadColour", pngOf(glyph(0, 0, 0)), {"paint", "zz"}, "ERR colour zz\n"},
        UntouchedCase{
            "Empty", pngOf(clearCanvas(4, 4)), {"paint", "3366cc"}, "ERR empty picture\n"},
        UntouchedCase{"Undecodable", "not a png", {"paint", "3366cc"}, kNoPicture}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace cliptint::test
