#pragma once

// libtiff, loaded when the first TIFF picture is read. Debian's libtiff archive brings its
// compressors with it (liblzma, libzstd, libjbig, libLerc): linked in, they made the binary two
// and a half times as large, and liblzma sets itself up at every start, so each run on a PNG
// paid for TIFF support it never used (bench/results.md). The library
// (CLIPTINT_TIFF_LIBRARY: libtiff.so.6 on Linux, Homebrew's libtiff.6.dylib on macOS) is
// opened on first use and its functions are reached through this table.

#include <tiffio.h>

namespace cliptint {

struct TiffLibrary {
    decltype(&TIFFSetErrorHandler) setErrorHandler;
    decltype(&TIFFSetWarningHandler) setWarningHandler;
    decltype(&TIFFOpenOptionsAlloc) openOptionsAlloc;
    decltype(&TIFFOpenOptionsFree) openOptionsFree;
    decltype(&TIFFOpenOptionsSetMaxSingleMemAlloc) openOptionsSetMaxSingleMemAlloc;
    decltype(&TIFFOpenOptionsSetErrorHandlerExtR) openOptionsSetErrorHandler;
    decltype(&TIFFOpenOptionsSetWarningHandlerExtR) openOptionsSetWarningHandler;
    decltype(&TIFFClientOpenExt) clientOpen;
    decltype(&TIFFClose) close;
    decltype(&TIFFGetField) getField;
    decltype(&TIFFGetFieldDefaulted) getFieldDefaulted;
    decltype(&TIFFIsTiled) isTiled;
    decltype(&TIFFScanlineSize) scanlineSize;
    decltype(&TIFFReadScanline) readScanline;
    decltype(&TIFFTileSize) tileSize;
    decltype(&TIFFTileRowSize) tileRowSize;
    decltype(&TIFFReadTile) readTile;
    decltype(&TIFFRGBAImageOK) rgbaImageOk;
    decltype(&TIFFRGBAImageBegin) rgbaImageBegin;
    decltype(&TIFFRGBAImageGet) rgbaImageGet;
    decltype(&TIFFRGBAImageEnd) rgbaImageEnd;
};

// The loaded library, its process-wide message handlers removed (they print on stderr); nullptr
// when it is not installed or lacks one of the functions, and then TIFF pictures answer as
// undecodable. Loaded once per process.
const TiffLibrary* tiffLibrary();

}  // namespace cliptint
