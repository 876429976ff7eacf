#include <functional>

#include "clipboard/pictures.hpp"
#include "clipboard/x11_fixture.hpp"
#include "support/canvas_maker.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

class X11Read : public X11Fixture {
  public:
    std::string redPng = pngOf(glyph(255, 0, 0));
    std::string blueTiff() { return tiffOf(glyph(0, 0, 255), dir.file("blue.tif")); }
};

TEST_F(X11Read, NoOwnerIsNoPicture) {
    const auto run = tool({"probe"});
    EXPECT_EQ(run.out, kNoPicture);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

// xclip answers every target with what it holds, typed as its own target: only a property whose
// type is the target asked for is a picture of that kind.
struct XclipCase {
    std::string name;
    std::string target;
    std::function<std::string(X11Read&)> bytes;
    bool picture;  // the reply is the --file probe of the same bytes, else "no picture"
};
void PrintTo(const XclipCase& c, std::ostream* os) {
    *os << c.name;
}

class XclipRead : public X11Read, public testing::WithParamInterface<XclipCase> {};

TEST_P(XclipRead, AnswersAsTheSameBytesFromAFile) {
    const auto& param = GetParam();
    const std::string bytes = param.bytes(*this);
    offerByXclip(param.target, bytes);
    const auto run = tool({"probe"});
    const std::string expected = param.picture ? fileRun(bytes, {"probe"}).first : kNoPicture;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(expected.rfind("ERR", 0) == 0, param.picture);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, XclipRead,
    testing::Values(XclipCase{"Png", "image/png", [](X11Read& t) { return t.redPng; }, true},
                    XclipCase{"TiffOnly", "image/tiff", [](X11Read& t) { return t.blueTiff(); },
                              true},
                    XclipCase{"TextOnly", "UTF8_STRING",
                              [](X11Read&) { return std::string("3366cc\n"); }, false},
                    // Over 8 MB: xclip hands it over by INCR.
                    XclipCase{"PngOver8MBByIncr", "image/png",
                              [](X11Read&) { return pngOf(noise(1600, 1400)); }, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(X11Read, PrefersPngWhenTiffIsOfferedToo) {
    offerByTestOwner("serve", {{"image/tiff", blueTiff()}, {"image/png", redPng}});
    const auto run = tool({"probe"});
    EXPECT_EQ(run.out, fileRun(redPng, {"probe"}).first);
    EXPECT_EQ(askedTargets(), "image/png\n");
}

// Text given under image/png is no PNG data, so TIFF is asked for next.
TEST_F(X11Read, TakesDataOnlyUnderTheTypeAskedFor) {
    const std::string tiff = blueTiff();
    offerByTestOwner("mistyped", {{"image/tiff", tiff}});
    EXPECT_EQ(tool({"probe"}).out, fileRun(tiff, {"probe"}).first);
    EXPECT_EQ(askedTargets(), "image/png\nimage/tiff\n");
}

// A test owner that answers image/png badly, or not at all; each run ends within its deadlines
// (the run's own limit here is far above them) and TIFF is never asked for.
struct OwnerCase {
    std::string name;
    std::string mode;
    std::string png;  // "" for the red glyph
    std::string reply;
};
void PrintTo(const OwnerCase& c, std::ostream* os) {
    *os << c.name;
}

class MisbehavingOwner : public X11Read, public testing::WithParamInterface<OwnerCase> {};

TEST_P(MisbehavingOwner, EndsTheRunWithoutAskingForTiff) {
    const auto& param = GetParam();
    offerByTestOwner(param.mode, {{"image/png", param.png.empty() ? redPng : param.png},
                                  {"image/tiff", blueTiff()}});
    const auto run = tool({"probe"}, 40s);
    EXPECT_EQ(run.out, param.reply);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(askedTargets(), "image/png\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MisbehavingOwner,
    testing::Values(
        // PNG data that is there counts even though it does not decode.
        OwnerCase{"UndecodablePngBesideValidTiff", "serve", "not a png at all", kNoPicture},
        OwnerCase{"NeverAnswers", "silent", "", kNoPicture},
        OwnerCase{"StopsMidIncr", "stall-incr", "", kNoPicture},
        // Refused from INCR's announced size alone, before a byte arrives or is allocated.
        OwnerCase{"AnnouncesTwoGiBByIncr", "huge-incr", "", "ERR picture size\n"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace cliptint::test
