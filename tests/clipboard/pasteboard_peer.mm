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
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::pair<const char*, NSString* const*> kTypes[] = {
    {"image/png", &NSPasteboardTypePNG},
    {"image/tiff", &NSPasteboardTypeTIFF},
    {"text/plain", &NSPasteboardTypeString},
};

NSString* pasteboardType(const char* mime) {
    for (const auto& [name, type] : kTypes)
        if (std::strcmp(name, mime) == 0) return *type;
    return [NSString stringWithUTF8String:mime];
}

const char* mimeType(NSString* type) {
    for (const auto& [name, known] : kTypes)
        if ([type isEqualToString:*known]) return name;
    return [type UTF8String];
}

bool put(NSPasteboard* pb, int count, char** words) {
    NSMutableArray* types = [NSMutableArray array];
    for (int i = 0; i < count; i += 2)
        [types addObject:pasteboardType(words[i])];
    [pb declareTypes:types owner:nil];
    for (int i = 0; i < count; i += 2) {
        std::ifstream file(words[i + 1], std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
        if (![pb setData:data forType:pasteboardType(words[i])]) return false;
    }
    return true;
}

int run(int argc, char** argv) {
    NSPasteboard* pb = [NSPasteboard generalPasteboard];
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "put" && argc >= 4 && argc % 2 == 0) return put(pb, argc - 2, argv + 2) ? 0 : 1;
    if (command == "paste" && argc == 3) {
        NSData* data = [pb dataForType:pasteboardType(argv[2])];
        std::fwrite([data bytes], 1, [data length], stdout);
        return 0;
    }
    if (command == "types" && argc == 2) {
        NSArray* types = [pb types];
        for (NSUInteger i = 0; i < [types count]; ++i)
            std::printf("%s\n", mimeType([types objectAtIndex:i]));
        return 0;
    }
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    int status = 1;
    @try {
        status = run(argc, argv);
    } @catch (id) {
    }
    std::fflush(stdout);
    [pool drain];
    return status;
}
