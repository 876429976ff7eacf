// The general pasteboard through AppKit's NSPasteboard: Apple's on macOS, GNUstep's elsewhere,
// from the same source. Every Objective-C type stays in this file.
//
// Each call that can raise sits in a small @try/@catch (id) and becomes a Result there; the caught
// object is never looked at, since g++ 12 hands Objective-C++ a pointer to the unwinder's header
// rather than to the exception. Memory is managed by hand (retain, release, a pool): GNUstep's
// g++ has no ARC.

#include "clipboard/appkit_clipboard.hpp"

#import <AppKit/AppKit.h>

#include <utility>

#include "sys/calls.hpp"

#if defined(GNUSTEP)
#include <GNUstepGUI/GSPasteboardServer.h>
#endif

namespace cliptint {

namespace {

// Objects that AppKit hands out autoreleased go when the pool ends; without a pool GNUstep
// complains on stderr and keeps them.
class AutoreleasePool {
  public:
    AutoreleasePool() : pool_([[NSAutoreleasePool alloc] init]) {}
    AutoreleasePool(const AutoreleasePool&) = delete;
    AutoreleasePool& operator=(const AutoreleasePool&) = delete;
    ~AutoreleasePool() { [pool_ drain]; }

  private:
    NSAutoreleasePool* pool_;
};

NSString* typeName(PictureType type) {
    return type == PictureType::png ? NSPasteboardTypePNG : NSPasteboardTypeTIFF;
}

#if defined(GNUSTEP)

// The longest wait for any answer of the pasteboard server.
constexpr NSTimeInterval kServerWait = 5;  // seconds

// The connection to the session's gpbs, which NSPasteboard then shares; nil until reached. (The
// file of its port in TMP stays when this process ends, as it ends without exit handlers; the next
// GNUstep process to start removes it.)
NSConnection* server = nil;

// When no pasteboard server answers, GNUstep starts one of its own, which ends with its last
// client and takes a painted picture with it, after seconds of waiting. So only a server that
// already runs counts, and it has kServerWait for each answer (GNUstep's own wait is endless).
bool reachServer() {
    @try {
        server = [[NSConnection connectionWithRegisteredName:PBSNAME host:@""] retain];
        if (server == nil) return false;
        [server setRequestTimeout:kServerWait];
        [server setReplyTimeout:kServerWait];
        return [server rootProxy] != nil;
    } @catch (id) {
        return false;
    }
}

// NSPasteboard shortens the connection's wait for answers to 2 s, too little for a large picture
// on a loaded machine.
void keepServerWait() {
    [server setReplyTimeout:kServerWait];
}

#else

// macOS runs its pasteboard server in every login session, and AppKit reaches it on its own.
bool reachServer() {
    return true;
}
void keepServerWait() {}

#endif

NSPasteboard* generalPasteboard() {
    @try {
        return [NSPasteboard generalPasteboard];
    } @catch (id) {
        return nil;
    }
}

// The data under the type, nil when there is none. Failure: "no clipboard" (the server went away
// or did not answer in time).
Result<NSData*> dataFor(NSPasteboard* pb, NSString* type) {
    @try {
        return [pb dataForType:type];
    } @catch (id) {
        return std::unexpected("no clipboard");
    }
}

// Makes the type the only one the pasteboard offers, with no data yet: everything it held is gone.
bool declareOnly(NSPasteboard* pb, NSString* type) {
    @try {
        [pb declareTypes:[NSArray arrayWithObject:type] owner:nil];
        return true;
    } @catch (id) {
        return false;
    }
}

// GNUstep raises NSPasteboardCommunicationException for a message over its limit (32 MiB).
bool setData(NSPasteboard* pb, NSData* data, NSString* type) {
    @try {
        return [pb setData:data forType:type] == YES;
    } @catch (id) {
        return false;
    }
}

class AppKitClipboard final : public Clipboard {
  public:
    explicit AppKitClipboard(NSPasteboard* pb) : pb_([pb retain]) {}
    AppKitClipboard(const AppKitClipboard&) = delete;
    AppKitClipboard& operator=(const AppKitClipboard&) = delete;
    ~AppKitClipboard() override { [pb_ release]; }

    // The bytes are copied out at once; AppKit's object goes with the pool.
    Result<std::optional<Bytes>> dataForType(PictureType type) override {
        AutoreleasePool pool;
        const auto data = dataFor(pb_, typeName(type));
        if (!data) return std::unexpected(data.error());
        if (*data == nil) return std::nullopt;
        return copyData({static_cast<const std::uint8_t*>([*data bytes]), [*data length]});
    }

    // put() empties the pasteboard as clearContents would (GNUstep has no clearContents), by
    // declaring the PNG its only type, in the same step as the store.
    Result<void> clear() override { return {}; }

    // The server keeps the data after this process ends. A failed store leaves the pasteboard
    // empty when the clearing declaration went through.
    Result<void> put(PictureType type, std::span<const std::uint8_t> bytes) override {
        AutoreleasePool pool;
        // The bytes outlive the call, so AppKit reads them where they are.
        NSData* data = [NSData dataWithBytesNoCopy:const_cast<std::uint8_t*>(bytes.data())
                                            length:bytes.size()
                                      freeWhenDone:NO];
        if (!declareOnly(pb_, typeName(type)) || !setData(pb_, data, typeName(type))) {
            return std::unexpected("write");
        }
        return {};
    }

  private:
    NSPasteboard* pb_;  // retained
};

}  // namespace

std::unique_ptr<Clipboard> connectAppKitClipboard() {
    // GNUstep reports a server it cannot reach, a message over its limit and the like on stderr.
    sys::discardStderr();
    AutoreleasePool pool;
    if (!reachServer()) return nullptr;
    NSPasteboard* pb = generalPasteboard();
    if (pb == nil) return nullptr;
    keepServerWait();
    return std::make_unique<AppKitClipboard>(pb);
}

}  // namespace cliptint
