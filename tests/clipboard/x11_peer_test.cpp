// X11 peers that misbehave as xclip does not: an owner of the tests' own (test_owner.cpp), and
// requestors written here with raw requests.

#include <gtest/gtest.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <cstring>
#include <filesystem>
#include <future>
#include <thread>

#include "clipboard/desktop.hpp"
#include "clipboard/pictures.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

TEST(X11Peers, OwnerThatMisbehavesEndsTheRunWithoutAskingForTiff) {
    struct Case {
        const char* mode;
        const char* reply;  // nullptr: the --file probe of the PNG
    };
    const Case cases[] = {
        {"silent", "ERR no picture on the clipboard\n"},
        {"stall-incr", "ERR no picture on the clipboard\n"},
        // Refused from INCR's announced size alone, before a byte arrives or is allocated.
        {"huge-incr", "ERR picture size\n"},
        {"incr", nullptr},
    };
    TempDir dir;
    writeWholeFile(dir.file("png"), glyphPng());
    writeWholeFile(dir.file("tiff"), readWholeFile(testData("tif-ga8.tif")));
    const std::string fileProbe =
        runTool({"--file", dir.file("png"), dir.file("out"), "probe"}).out;
    ASSERT_TRUE(fileProbe.starts_with("MONO 112233 ")) << fileProbe;
    // Each on a display of its own, side by side: most of the time goes in waiting out deadlines.
    std::vector<std::future<void>> runs;
    for (const auto& c : cases) {
        runs.push_back(std::async(std::launch::async, [&dir, &fileProbe, c] {
            Desktop desktop(Backend::x11);
            const std::string log = dir.file(std::string(c.mode) + ".log");
            desktop.start({CLIPTINT_TEST_OWNER, c.mode, log, "image/png", dir.file("png"),
                           "image/tiff", dir.file("tiff")});
            for (const auto end = std::chrono::steady_clock::now() + 10s;
                 !std::filesystem::exists(log) && std::chrono::steady_clock::now() < end;)
                std::this_thread::sleep_for(10ms);
            const auto run = desktop.tool({"probe"});
            EXPECT_EQ(run.out, c.reply != nullptr ? c.reply : fileProbe) << c.mode;
            EXPECT_EQ(run.err, "") << c.mode;
            EXPECT_EQ(readWholeFile(log), "image/png\n") << c.mode;
        }));
    }
    for (auto& run : runs)
        run.get();
}

// A connection of the test's own, with a window that selects PropertyChange.
struct Requestor {
    xcb_connection_t* c;
    xcb_window_t window;

    explicit Requestor(const Desktop& desktop)
        : c(xcb_connect(desktop.env()[0].substr(8).c_str(), nullptr)), window(xcb_generate_id(c)) {
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, 0, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0,
                          1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                          XCB_CW_EVENT_MASK, &events);
        xcb_flush(c);
    }
    ~Requestor() { xcb_disconnect(c); }

    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t atom = reply->atom;
        std::free(reply);
        return atom;
    }
    void convert(const char* target, xcb_atom_t property) {
        xcb_convert_selection(c, window, atom("CLIPBOARD"), atom(target), property,
                              XCB_CURRENT_TIME);
        xcb_flush(c);
    }
    // The next event of the type, waiting at most 5 s.
    std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> await(int type) {
        for (const auto end = std::chrono::steady_clock::now() + 5s;
             std::chrono::steady_clock::now() < end;) {
            while (auto* event = xcb_poll_for_event(c)) {
                if ((event->response_type & 0x7f) == type) return {event, &std::free};
                std::free(event);
            }
            pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&ready, 1, 100);
        }
        return {nullptr, &std::free};
    }
    // The property's type and bytes, up to 16 MB.
    std::pair<xcb_atom_t, std::string> read(xcb_atom_t property) {
        auto* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 4 << 20),
            nullptr);
        std::pair<xcb_atom_t, std::string> result{
            reply->type, std::string(static_cast<const char*>(xcb_get_property_value(reply)),
                                     xcb_get_property_value_length(reply))};
        std::free(reply);
        return result;
    }
};

class X11Serving : public testing::Test {
  protected:
    Desktop desktop{Backend::x11};
    std::string painted;

    // The tool paints the picture and serves the result.
    void paint(const std::string& png) {
        TempDir dir;
        writeWholeFile(dir.file("in"), png);
        runTool({"--file", dir.file("in"), dir.file("out"), "paint", "3366cc"});
        painted = readWholeFile(dir.file("out"));
        desktop.copy("image/png", png);
        ASSERT_TRUE(desktop.tool({"paint", "3366cc"}).out.starts_with("MONO 3366CC "));
    }
};

// ICCCM 2.6.2: pairs converted in order; the one that cannot be has its property set to None.
TEST_F(X11Serving, AnswersMultiple) {
    paint(glyphPng());
    Requestor r(desktop);
    const xcb_atom_t png = r.atom("P1"), tiff = r.atom("P2"), pairs = r.atom("M");
    const std::uint32_t asked[] = {r.atom("image/png"), png, r.atom("image/tiff"), tiff};
    xcb_change_property(r.c, XCB_PROP_MODE_REPLACE, r.window, pairs, r.atom("ATOM_PAIR"), 32, 4,
                        asked);
    r.convert("MULTIPLE", pairs);
    const auto notify = r.await(XCB_SELECTION_NOTIFY);
    ASSERT_NE(notify, nullptr);
    ASSERT_EQ(reinterpret_cast<xcb_selection_notify_event_t*>(notify.get())->property, pairs);
    std::uint32_t answered[4] = {};
    const auto [type, items] = r.read(pairs);
    ASSERT_EQ(items.size(), sizeof answered);
    std::memcpy(answered, items.data(), sizeof answered);
    EXPECT_EQ(std::vector(answered, answered + 4),
              (std::vector<std::uint32_t>{asked[0], png, asked[2], XCB_NONE}));
    EXPECT_EQ(r.read(png), std::pair(r.atom("image/png"), painted));
}

// Requestors that vanish, before or during an INCR transfer, end only their own transfer.
TEST_F(X11Serving, SurvivesRequestorsThatVanish) {
    paint(randomPng(800, 600, Ink::black));
    ASSERT_GT(painted.size(), 512u * 1024) << "too small to go by INCR";
    // Connected before the first requestor leaves, so the server cannot hand this client the
    // window id that the vanished one used: a stale answer to that window would land here.
    Requestor midway(desktop);
    {
        Requestor gone(desktop);
        gone.convert("image/png", gone.atom("P"));
        xcb_destroy_window(gone.c, gone.window);
        xcb_flush(gone.c);
    }
    const xcb_atom_t property = midway.atom("P");
    midway.convert("image/png", property);
    ASSERT_NE(midway.await(XCB_SELECTION_NOTIFY), nullptr);
    ASSERT_EQ(midway.read(property).first, midway.atom("INCR"));
    xcb_delete_property(midway.c, midway.window, property);
    xcb_flush(midway.c);
    bool chunk = false;
    while (!chunk) {
        const auto event = midway.await(XCB_PROPERTY_NOTIFY);
        ASSERT_NE(event, nullptr);
        const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
        chunk = notify->atom == property && notify->state == XCB_PROPERTY_NEW_VALUE;
    }
    EXPECT_TRUE(desktop.paste("image/png") == painted);
}

}  // namespace
}  // namespace cliptint::test
