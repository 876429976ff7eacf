// Writes the benchmark's pictures as PNG files into the folder named on the command line.

#include <cstdio>
#include <string>

#include "pictures.hpp"

namespace {

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
    const bool ok = writePicture(dir + "/icon64.png", makeGlyph(64, 64)) &&
                    writePicture(dir + "/glyph1k.png", makeGlyph(1024, 1024)) &&
                    writePicture(dir + "/glyph40m.png", makeGlyph(7999, 5000)) &&
                    writePicture(dir + "/noisy40m.png", makeNoisy(7999, 5000));
    return ok ? 0 : 1;
}
