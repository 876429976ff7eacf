#include "canvas/tiff_library.hpp"

#include "sys/library.hpp"

namespace cliptint {

namespace {

// The handle is never closed: the library serves the rest of the run.
const TiffLibrary* load() {
    void* handle = sys::openLibrary(CLIPTINT_TIFF_LIBRARY);
    if (handle == nullptr) return nullptr;
    static TiffLibrary library{};
    auto& l = library;
    const bool bound = sys::bindFunction(handle, "TIFFSetErrorHandler", l.setErrorHandler) &&
                       sys::bindFunction(handle, "TIFFSetWarningHandler", l.setWarningHandler) &&
                       sys::bindFunction(handle, "TIFFOpenOptionsAlloc", l.openOptionsAlloc) &&
                       sys::bindFunction(handle, "TIFFOpenOptionsFree", l.openOptionsFree) &&
                       sys::bindFunction(handle, "TIFFOpenOptionsSetMaxSingleMemAlloc",
                                         l.openOptionsSetMaxSingleMemAlloc) &&
                       sys::bindFunction(handle, "TIFFOpenOptionsSetErrorHandlerExtR",
                                         l.openOptionsSetErrorHandler) &&
                       sys::bindFunction(handle, "TIFFOpenOptionsSetWarningHandlerExtR",
                                         l.openOptionsSetWarningHandler) &&
                       sys::bindFunction(handle, "TIFFClientOpenExt", l.clientOpen) &&
                       sys::bindFunction(handle, "TIFFClose", l.close) &&
                       sys::bindFunction(handle, "TIFFGetField", l.getField) &&
                       sys::bindFunction(handle, "TIFFGetFieldDefaulted", l.getFieldDefaulted) &&
                       sys::bindFunction(handle, "TIFFIsTiled", l.isTiled) &&
                       sys::bindFunction(handle, "TIFFScanlineSize", l.scanlineSize) &&
                       sys::bindFunction(handle, "TIFFReadScanline", l.readScanline) &&
                       sys::bindFunction(handle, "TIFFTileSize", l.tileSize) &&
                       sys::bindFunction(handle, "TIFFTileRowSize", l.tileRowSize) &&
                       sys::bindFunction(handle, "TIFFReadTile", l.readTile) &&
                       sys::bindFunction(handle, "TIFFRGBAImageOK", l.rgbaImageOk) &&
                       sys::bindFunction(handle, "TIFFRGBAImageBegin", l.rgbaImageBegin) &&
                       sys::bindFunction(handle, "TIFFRGBAImageGet", l.rgbaImageGet) &&
                       sys::bindFunction(handle, "TIFFRGBAImageEnd", l.rgbaImageEnd);
    if (!bound) return nullptr;
    // A few messages are issued outside any open file and go to these process-wide handlers.
    l.setErrorHandler(nullptr);
    l.setWarningHandler(nullptr);
    return &library;
}

}  // namespace

const TiffLibrary* tiffLibrary() {
    static const TiffLibrary* const library = load();
    return library;
}

}  // namespace cliptint
