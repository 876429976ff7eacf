// Writes the benchmark's pictures as PNG files into the folder named on the command line, and an
// icon set of distinct 48x48 glyphs into its subfolder icons/.

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "pictures.hpp"

namespace {

// The icon set's size; bench/run reads this many files.
constexpr int kIconCount = 400;

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

bool writePicture(const std::string& path, const cliptint::bench::Picture& picture) {
    const auto png = cliptint::bench::pngOf(picture);
    if (!png || !writeFile(path, *png)) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures DIR\n");
        return 2;
    }
    using namespace cliptint::bench;
    const std::string dir = argv[1];
    bool ok = writePicture(dir + "/icon64.png", makeGlyph(64, 64)) &&
              writePicture(dir + "/glyph1k.png", makeGlyph(1024, 1024)) &&
              writePicture(dir + "/glyph40m.png", makeGlyph(7999, 5000)) &&
              writePicture(dir + "/noisy40m.png", makeNoisy(7999, 5000));
    const std::string icons = dir + "/icons";
    ::mkdir(icons.c_str(), 0777);
    for (int k = 0; ok && k < kIconCount; ++k) {
        char name[32];
        std::snprintf(name, sizeof name, "/glyph-%03d.png", k);
        ok = writePicture(icons + name, makeGlyphVariant(48, 48, k));
    }
    return ok ? 0 : 1;
}
