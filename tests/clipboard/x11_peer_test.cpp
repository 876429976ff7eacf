// X11 peers that misbehave as xclip does not, with this process on their display: an owner of the
// tests' own on a thread, read from here, and requestors written here with raw requests against
// the tool's owner.

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <map>
#include <numeric>
#include <optional>
#include <span>
#include <thread>

#include "clipboard/desktop.hpp"
#include "clipboard/x11_clipboard.hpp"
#include "clipboard/x11_owner.hpp"
#include "clipboard/x11_read.hpp"
#include "sys/calls.hpp"

namespace cliptint::test {
namespace {

using namespace std::chrono_literals;

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
    return bytes;
}

enum class Mode {
    silent,       // never answers a request
    incr,         // answers by INCR in 64-byte chunks, among events not for the requestor
    stallIncr,    // answers by INCR, sends one chunk, and then stops
    hugeIncr,     // answers by INCR announcing 2 GiB, then sends the bytes
    boastIncr,    // answers by INCR announcing 1 GiB - 1, then sends the bytes
    trickleIncr,  // answers by INCR, one byte a chunk, a chunk every 0.1 s, for ever
};

// A CLIPBOARD owner that answers every target with the bytes as image/png by INCR, on a
// connection and thread of its own; only its connection is set up by the tool's code. In incr
// mode it sends before its answer refusals for the PRIMARY selection and for another window, and
// before each chunk a ClientMessage laid out like a PropertyNotify, a PropertyNotify for another
// window and a new value of another property.
class TestOwner {
  public:
    std::vector<xcb_atom_t> asked;  // the targets asked for, once the owner is stopped

    TestOwner(Mode mode, Bytes bytes) : mode_(mode), bytes_(std::move(bytes)) {
        xcb_set_selection_owner(c_, s_.window, s_.atoms.clipboard, XCB_CURRENT_TIME);
        x11::awaitReply<xcb_get_selection_owner_reply_t>(
            c_, xcb_get_selection_owner(c_, s_.atoms.clipboard), Clock::now() + kPatience);
        thread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                const auto event = x11::nextEvent(c_, Clock::now() + 50ms);
                const int type = event ? x11::responseType(*event) : 0;
                if (type == XCB_SELECTION_REQUEST)
                    answer(x11::eventAs<xcb_selection_request_event_t>(*event));
                if (type == XCB_PROPERTY_NOTIFY)
                    nextChunk(x11::eventAs<xcb_property_notify_event_t>(*event));
            }
        });
    }
    void stop() { thread_ = {}; }  // the thread asked to stop, and joined

  private:
    template <typename Event>
    void send(xcb_window_t to, const Event& event) {
        char wire[32] = {};
        std::memcpy(wire, &event, sizeof event);
        xcb_send_event(c_, 0, to, XCB_EVENT_MASK_NO_EVENT, wire);
    }

    void answer(const xcb_selection_request_event_t& request) {
        asked.push_back(request.target);
        if (mode_ == Mode::silent) return;
        const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        const std::uint32_t size = mode_ == Mode::hugeIncr    ? 1u << 31
                                   : mode_ == Mode::boastIncr ? std::uint32_t(kMaxInputBytes - 1)
                                                              : bytes_.size();
        xcb_change_window_attributes(c_, request.requestor, XCB_CW_EVENT_MASK, &events);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, request.requestor, request.property,
                            s_.atoms.incr, 32, 1, &size);
        sent_[{request.requestor, request.property}] = 0;
        const auto notify = [&](xcb_window_t requestor, xcb_atom_t selection, xcb_atom_t answer) {
            send(request.requestor,
                 xcb_selection_notify_event_t{XCB_SELECTION_NOTIFY, 0, 0, request.time, requestor,
                                              selection, request.target, answer});
        };
        if (mode_ == Mode::incr) {
            notify(request.requestor, XCB_ATOM_PRIMARY, XCB_NONE);
            notify(s_.window, request.selection, XCB_NONE);
        }
        notify(request.requestor, request.selection, request.property);
    }

    // The requestor deleted the property: it took the last chunk and waits for the next.
    void nextChunk(const xcb_property_notify_event_t& event) {
        const auto found = sent_.find({event.window, event.atom});
        if (event.state != XCB_PROPERTY_DELETE || found == sent_.end()) return;
        if (mode_ == Mode::stallIncr && found->second > 0) return;
        if (mode_ == Mode::trickleIncr) {
            std::this_thread::sleep_for(100ms);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.window, event.atom, s_.atoms.png,
                                8, 1, bytes_.data());
            return;
        }
        if (mode_ == Mode::incr) {
            // A ClientMessage has its type where a PropertyNotify has its atom; 0 is NewValue.
            send(event.window, xcb_client_message_event_t{
                                   XCB_CLIENT_MESSAGE, 32, 0, event.window, event.atom, {}});
            const xcb_property_notify_event_t other{
                XCB_PROPERTY_NOTIFY, 0, 0, s_.window, event.atom, 0, XCB_PROPERTY_NEW_VALUE, {}};
            send(event.window, other);
            xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.window, XCB_ATOM_CUT_BUFFER2,
                                XCB_ATOM_STRING, 8, 1, "x");
            xcb_flush(c_);
            // A reader taking the noise for the chunk finds none yet.
            std::this_thread::sleep_for(20ms);
        }
        const std::size_t size = std::min<std::size_t>(64, bytes_.size() - found->second);
        xcb_change_property(c_, XCB_PROP_MODE_REPLACE, event.window, event.atom, s_.atoms.png, 8,
                            std::uint32_t(size), bytes_.data() + found->second);
        found->second += size;
        if (size == 0) sent_.erase(found);
    }

    Mode mode_;
    Bytes bytes_;
    x11::Session s_ = std::move(*x11::openSession());
    xcb_connection_t* c_ = s_.c();
    std::map<std::pair<xcb_window_t, xcb_atom_t>, std::size_t> sent_;  // (requestor, property)
    std::jthread thread_;
};

class X11Peers : public testing::Test {
  protected:
    Desktop desktop{Backend::x11};

    X11Peers() { ::setenv("DISPLAY", desktop.env()[0].c_str() + 8, 1); }
    ~X11Peers() override { ::unsetenv("DISPLAY"); }

    // The property's type and its value as 32-bit words.
    static std::pair<xcb_atom_t, std::vector<std::uint32_t>> read(const x11::Session& s,
                                                                  xcb_atom_t property) {
        const auto reply = x11::awaitReply<xcb_get_property_reply_t>(
            s.c(),
            xcb_get_property(s.c(), 0, s.window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1 << 20),
            Clock::now() + kPatience);
        const auto* words = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
        return {reply->type, {words, words + xcb_get_property_value_length(reply.get()) / 4}};
    }
};

// The read ends by its one deadline, however long the owner goes on; waited for here a while
// longer, and then the owner stops, which a read without that deadline would wait for.
TEST_F(X11Peers, OwnerThatStallsTricklesOrAnnouncesTooMuchEndsTheReadWithoutAskingForTiff) {
    const std::pair<Mode, std::string> cases[] = {
        {Mode::silent, "none"},
        {Mode::stallIncr, "none"},
        {Mode::trickleIncr, "none"},
        // Refused from INCR's announced 2 GiB alone, before a byte arrives or is allocated.
        {Mode::hugeIncr, "ERR picture size"},
    };
    for (const auto& [mode, expected] : cases) {
        TestOwner owner(mode, pattern(1000));
        auto reading =
            std::async(std::launch::async, [] { return readClipboard(*connectX11Clipboard()); });
        EXPECT_EQ(reading.wait_for(kReadLimit + 30s), std::future_status::ready) << expected;
        owner.stop();
        const auto read = reading.get();
        EXPECT_EQ(read ? (*read ? "bytes" : "none") : "ERR " + read.error(), expected);
        EXPECT_EQ(owner.asked, std::vector{x11::openSession()->atoms.png}) << expected;
    }
}

// Memory is taken as bytes arrive, never for what an owner only announces, and the bytes are held
// once, not copied as they grow: in 400 MB of address space the tool reads the 1000 bytes of an
// owner that announces 1 GiB - 1, and in 700 MB it reads 300 MB from a pipe; with less, memory
// that cannot be had is a reply line, not an abort. (AddressSanitizer maps terabytes of shadow
// memory: its builds take no address-space limit.)
TEST_F(X11Peers, BoundedAddressSpaceHoldsWhatArrivesOnceAndRepliesWhenItRunsOut) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "no address-space limit under AddressSanitizer";
#endif
    TestOwner owner(Mode::boastIncr, pattern(1000));
    const std::string pipe = "head -c 300M /dev/zero | prlimit --as=";
    const std::pair<std::string, std::string> cases[] = {
        {"prlimit --as=400000000 \"$0\" probe", "ERR no picture on the clipboard\n"},
        {pipe + "700000000 \"$0\" --file /dev/stdin unused probe",
         "ERR no picture on the clipboard\n"},
        {pipe + "200000000 \"$0\" --file /dev/stdin unused probe", "ERR memory\n"},
    };
    for (const auto& [command, reply] : cases) {
        const auto run = runProgram({"sh", "-c", command, CLIPTINT_BINARY}, 60s, desktop.env());
        EXPECT_EQ(std::tie(run.out, run.err, run.status), std::tuple(reply, "", 0)) << command;
    }
}

// xclip answers in one go. The incr owner's events that are not for the reader: one taken for its
// own ends the read early or leaves it waiting for a chunk that never comes. Memory that cannot be
// had for the bytes is "memory" either way.
TEST_F(X11Peers, ReadsUpToTheLimitInOneGoOrByIncrPastEventsNotForIt) {
    const Bytes bytes = pattern(1000);
    desktop.copy("image/png", std::string(bytes.begin(), bytes.end()));
    for (const bool incr : {false, true}) {
        std::optional<TestOwner> owner;
        if (incr) owner.emplace(Mode::incr, bytes);
        auto session = *x11::openSession();
        for (const std::int64_t limit : {1000, 999}) {
            const auto read = x11::convertClipboard(session, session.atoms.png, limit);
            EXPECT_TRUE(limit == 1000 ? read && read->bytes == bytes
                                      : !read && read.error() == "picture size")
                << limit;
        }
        sys::failCall(sys::Call::mapMemory, ENOMEM);
        const auto starved = x11::convertClipboard(session, session.atoms.png);
        sys::clearFailures();
        EXPECT_EQ(starved ? "bytes" : starved.error(), "memory");
    }
}

// ICCCM 2.6.2: MULTIPLE's pairs are converted in order, the one that cannot be with its property
// set to None; the PNG, over the owner's 256 KiB chunk, goes by INCR. Requestors that vanish
// before their answer, or stop taking an INCR transfer midway, end only their own transfer.
TEST_F(X11Peers, ToolsOwnerAnswersMultipleAndSurvivesRequestorsThatVanishOrStall) {
    const Bytes png = pattern(300'000);
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
    // Asks for MULTIPLE with the pairs in the transfer property, and gives the answer's property
    // (past the PropertyNotify events of the conversion), or nothing if none came.
    const auto askMultiple = [&](std::uint8_t format, std::span<const std::uint32_t> pairs) {
        xcb_change_property(midway.c(), XCB_PROP_MODE_REPLACE, midway.window, atoms.transfer,
                            atoms.atomPair, format,
                            static_cast<std::uint32_t>(pairs.size() * 32 / format), pairs.data());
        xcb_convert_selection(midway.c(), midway.window, atoms.clipboard, atoms.multiple,
                              atoms.transfer, XCB_CURRENT_TIME);
        const auto deadline = Clock::now() + kPatience;
        auto notify = x11::nextEvent(midway.c(), deadline);
        while (notify && x11::responseType(*notify) != XCB_SELECTION_NOTIFY)
            notify = x11::nextEvent(midway.c(), deadline);
        return notify ? std::optional(x11::eventAs<xcb_selection_notify_event_t>(*notify).property)
                      : std::nullopt;
    };
    const std::vector<std::uint32_t> asked{atoms.png, XCB_ATOM_CUT_BUFFER0, atoms.tiff,
                                           XCB_ATOM_CUT_BUFFER1};
    // Pairs that are not 32-bit atoms are refused, not read as atoms.
    ASSERT_EQ(askMultiple(8, asked), std::optional(xcb_atom_t{XCB_NONE}));
    ASSERT_EQ(askMultiple(32, asked), std::optional(atoms.transfer));
    EXPECT_EQ(read(midway, atoms.transfer),
              std::pair(atoms.atomPair,
                        std::vector{asked[0], asked[1], asked[2], std::uint32_t{XCB_NONE}}));
    ASSERT_EQ(read(midway, XCB_ATOM_CUT_BUFFER0).first, atoms.incr);
    // Taking the announcement starts the transfer; the first chunk is left untaken.
    xcb_delete_property(midway.c(), midway.window, XCB_ATOM_CUT_BUFFER0);
    ASSERT_TRUE(
        await([&] { return read(midway, XCB_ATOM_CUT_BUFFER0).first == atoms.png; }, kPatience));
    EXPECT_TRUE(desktop.paste("image/png") == std::string(png.begin(), png.end()));
}

// The write itself fails (here: no process can be started to serve the picture), and the owner
// before keeps the clipboard: taking the selection is what replaces it, so nothing is cleared
// first. (On Wayland: WaylandPeer.HandedOverSocketReadsButDoesNotPaint.)
TEST_F(X11Peers, FailedPutIsAWriteFailureAndLeavesTheClipboardAlone) {
    desktop.copy("image/png", "held");
    const auto pb = connectX11Clipboard();
    sys::failCall(sys::Call::fork, EAGAIN);
    const auto written = writeClipboard(*pb, pattern(10));
    sys::clearFailures();
    EXPECT_EQ(written ? "" : written.error(), "write");
    EXPECT_EQ(desktop.paste("image/png"), "held");
}

}  // namespace
}  // namespace cliptint::test
