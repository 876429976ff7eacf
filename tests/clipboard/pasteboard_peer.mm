// Another AppKit program on the pasteboard, as the tests' peer on GNUstep's server:
//   pasteboard_peer put TYPE FILE [TYPE FILE ...]  offers each file's bytes under its type, all at
//                                                  once, in place of everything before
//   pasteboard_peer paste TYPE                     writes the bytes under the type to stdout
//   pasteboard_peer types                          lists the types offered, one a line
// Types are MIME types: image/png, image/tiff and text/plain stand for AppKit's PNG, TIFF and
// string types (whose names differ between GNUstep and macOS); any other is used as it is. Exit
// status 1 when the pasteboard refused or raised, 2 for wrong words.

#import <AppKit/AppKit.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* kMimeTypes[] = {"image/png", "image/tiff", "text/plain"};
NSString* const* const kTypes[] = {&NSPasteboardTypePNG, &NSPasteboardTypeTIFF,
                                   &NSPasteboardTypeString};

NSString* typeOf(const std::string& mime) {
    for (int i = 0; i < 3; ++i)
        if (mime == kMimeTypes[i]) return *kTypes[i];
    return [NSString stringWithUTF8String:mime.c_str()];
}

int run(NSPasteboard* pb, const std::string& command, int count, char** words) {
    if (command == "put" && count > 0 && count % 2 == 0) {
        NSMutableArray* types = [NSMutableArray array];
        for (int i = 0; i < count; i += 2)
            [types addObject:typeOf(words[i])];
        [pb declareTypes:types owner:nil];
        for (int i = 0; i < count; i += 2) {
            NSString* file = [NSString stringWithUTF8String:words[i + 1]];
            if (![pb setData:[NSData dataWithContentsOfFile:file] forType:typeOf(words[i])])
                return 1;
        }
        return 0;
    }
    if (command == "paste" && count == 1) {
        NSData* data = [pb dataForType:typeOf(words[0])];
        return std::fwrite([data bytes], 1, [data length], stdout) == [data length] ? 0 : 1;
    }
    if (command != "types" || count != 0) return 2;
    NSArray* types = [pb types];
    for (NSUInteger i = 0; i < [types count]; ++i) {
        const char* name = [[types objectAtIndex:i] UTF8String];
        for (const char* mime : kMimeTypes)
            if ([typeOf(mime) isEqualToString:[types objectAtIndex:i]]) name = mime;
        std::printf("%s\n", name);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    [[NSAutoreleasePool alloc] init];  // for the whole run, which ends with the process
    @try {
        return run([NSPasteboard generalPasteboard], argc > 1 ? argv[1] : "", argc - 2, argv + 2);
    } @catch (id) {
        return 1;
    }
}
