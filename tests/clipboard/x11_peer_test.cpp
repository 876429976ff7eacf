// X11 peers that misbehave as xclip does not, with this process on their display: owners of the
// tests' own (test_owner.cpp) read from here, and requestors written here with raw requests
// against the tool's owner.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "clipboard/desktop.hpp"
#include "clipboard/x11_clipboard.hpp"
#include "clipboard/x11_owner.hpp"
#include "clipboard/x11_read.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
    return bytes;
}

class X11Peers : public testing::Test {
  protected:
    Desktop desktop{Backend::x11};
    TempDir dir;

    X11Peers() { ::setenv("DISPLAY", desktop.env()[0].c_str() + 8, 1); }
    ~X11Peers() override { ::unsetenv("DISPLAY"); }

    // The test owner in the mode takes the clipboard, offering the bytes; returns its log's path.
    std::string own(const std::string& mode, const Bytes& bytes) {
        const std::string log = dir.file(mode + ".log");
        writeWholeFile(dir.file(mode), std::string(bytes.begin(), bytes.end()));
        desktop.start({CLIPTINT_TEST_OWNER, mode, log, dir.file(mode)});
        for (const auto end = std::chrono::steady_clock::now() + 10s;
             !std::filesystem::exists(log) && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(10ms);
        return log;
    }

    // The next event of the type for the session, or nullptr after the answer deadline.
    static x11::XcbEvent await(const x11::Session& s, int type) {
        for (const auto deadline = x11::answerDeadline();;) {
            auto event = x11::nextEvent(s.c(), deadline);
            if (event == nullptr || x11::responseType(*event) == type) return event;
        }
    }
    // The property's type and bytes.
    static std::pair<xcb_atom_t, std::string> read(const x11::Session& s, xcb_atom_t property) {
        const auto reply = x11::awaitReply<xcb_get_property_reply_t>(
            s.c(),
            xcb_get_property(s.c(), 0, s.window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
            x11::answerDeadline());
        const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
        return {reply->type, std::string(value, xcb_get_property_value_length(reply.get()))};
    }
};

TEST_F(X11Peers, OwnerThatStallsOrAnnouncesTooMuchEndsTheReadWithoutAskingForTiff) {
    const std::pair<const char*, std::string> cases[] = {
        {"silent", "none"},
        {"stall-incr", "none"},
        // Refused from INCR's announced 2 GiB alone, before a byte arrives or is allocated.
        {"huge-incr", "ERR picture size"},
    };
    for (const auto& [mode, expected] : cases) {
        const std::string log = own(mode, pattern(1000));
        const auto read = readClipboard(*connectX11Clipboard());
        EXPECT_EQ(read ? (*read ? "bytes" : "none") : "ERR " + read.error(), expected) << mode;
        EXPECT_EQ(readWholeFile(log), "image/png\n") << mode;
    }
}

// The incr owner sends before its answer a refusal for PRIMARY, and before each chunk a
// ClientMessage laid out like a PropertyNotify, a PropertyNotify for another window and a new
// value of another property: a reader taking any of them for its own ends early or waits forever.
TEST_F(X11Peers, ReadsUpToTheLimitInOneGoOrByIncrPastEventsNotForIt) {
    const Bytes bytes = pattern(1000);
    for (const char* mode : {"plain", "incr"}) {
        own(mode, bytes);
        auto session = x11::openSession();
        ASSERT_TRUE(session);
        for (const std::int64_t limit : {1000, 999}) {
            const auto read = x11::convertClipboard(*session, session->atoms.png, limit);
            const std::string shown = !read         ? "ERR " + read.error()
                                      : read->bytes ? (*read->bytes == bytes ? "whole" : "wrong")
                                                    : "none";
            EXPECT_EQ(shown, limit == 1000 ? "whole" : "ERR picture size") << mode << limit;
        }
    }
}

// ICCCM 2.6.2: pairs converted in order; the one that cannot be has its property set to None.
TEST_F(X11Peers, ToolsOwnerAnswersMultiple) {
    const Bytes png = pattern(1000);
    ASSERT_TRUE(x11::ownClipboard(png));
    auto s = *x11::openSession();
    const auto& atoms = s.atoms;
    const std::uint32_t asked[] = {atoms.png, XCB_ATOM_CUT_BUFFER0, atoms.tiff,
                                   XCB_ATOM_CUT_BUFFER1};
    xcb_change_property(s.c(), XCB_PROP_MODE_REPLACE, s.window, atoms.transfer, atoms.atomPair, 32,
                        4, asked);
    xcb_convert_selection(s.c(), s.window, atoms.clipboard, atoms.multiple, atoms.transfer,
                          XCB_CURRENT_TIME);
    const auto notify = await(s, XCB_SELECTION_NOTIFY);
    ASSERT_NE(notify, nullptr);
    ASSERT_EQ(x11::eventAs<xcb_selection_notify_event_t>(*notify).property, atoms.transfer);
    const std::uint32_t answered[] = {asked[0], asked[1], asked[2], XCB_NONE};
    EXPECT_EQ(read(s, atoms.transfer),
              std::pair(atoms.atomPair,
                        std::string(reinterpret_cast<const char*>(answered), sizeof answered)));
    EXPECT_EQ(read(s, XCB_ATOM_CUT_BUFFER0),
              std::pair(atoms.png, std::string(png.begin(), png.end())));
}

// Requestors that vanish before their answer, or stop taking an INCR transfer midway, end only
// their own transfer.
TEST_F(X11Peers, ToolsOwnerSurvivesRequestorsThatVanishOrStall) {
    const Bytes png = pattern(300'000);  // over the owner's 256 KiB chunk: goes by INCR
    ASSERT_TRUE(x11::ownClipboard(png));
    // Opened before the other leaves, so the server cannot hand this session the window id that
    // the vanished one used: a stale answer to that window would land here.
    auto midway = *x11::openSession();
    const auto& atoms = midway.atoms;
    {
        const auto gone = *x11::openSession();
        xcb_convert_selection(gone.c(), gone.window, atoms.clipboard, atoms.png, atoms.transfer,
                              XCB_CURRENT_TIME);
        xcb_destroy_window(gone.c(), gone.window);
        xcb_flush(gone.c());
    }
    xcb_convert_selection(midway.c(), midway.window, atoms.clipboard, atoms.png, atoms.transfer,
                          XCB_CURRENT_TIME);
    ASSERT_NE(await(midway, XCB_SELECTION_NOTIFY), nullptr);
    ASSERT_EQ(read(midway, atoms.transfer).first, atoms.incr);
    xcb_delete_property(midway.c(), midway.window, atoms.transfer);
    for (bool chunk = false; !chunk;) {
        const auto event = await(midway, XCB_PROPERTY_NOTIFY);
        ASSERT_NE(event, nullptr);
        const auto& notify = x11::eventAs<xcb_property_notify_event_t>(*event);
        chunk = notify.atom == atoms.transfer && notify.state == XCB_PROPERTY_NEW_VALUE;
    }
    EXPECT_TRUE(desktop.paste("image/png") == std::string(png.begin(), png.end()));
}

}  // namespace
}  // namespace cliptint::test
