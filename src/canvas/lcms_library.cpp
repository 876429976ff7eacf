#include "canvas/lcms_library.hpp"

#include "sys/library.hpp"

namespace cliptint {

namespace {

// lcms2 reports damaged profiles through this handler; its default prints nothing today, but
// the reply line must stay the only output whatever a later version does.
void ignoreLcmsError(cmsContext, cmsUInt32Number, const char*) {}

// The handle is never closed: the library serves the rest of the run.
const LcmsLibrary* load() {
    void* handle = sys::openLibrary(CLIPTINT_LCMS2_LIBRARY);
    if (handle == nullptr) return nullptr;
    static LcmsLibrary library{};
    decltype(&cmsSetLogErrorHandler) setLogErrorHandler = nullptr;
    const bool bound =
        sys::bindFunction(handle, "cmsSetLogErrorHandler", setLogErrorHandler) &&
        sys::bindFunction(handle, "cmsOpenProfileFromMem", library.openProfileFromMem) &&
        sys::bindFunction(handle, "cmsCloseProfile", library.closeProfile) &&
        sys::bindFunction(handle, "cmsCreate_sRGBProfile", library.createSrgbProfile) &&
        sys::bindFunction(handle, "cmsGetColorSpace", library.colourSpace) &&
        sys::bindFunction(handle, "cmsGetDeviceClass", library.deviceClass) &&
        sys::bindFunction(handle, "cmsCreateTransform", library.createTransform) &&
        sys::bindFunction(handle, "cmsDeleteTransform", library.deleteTransform) &&
        sys::bindFunction(handle, "cmsDoTransform", library.doTransform);
    if (!bound) return nullptr;
    setLogErrorHandler(ignoreLcmsError);
    return &library;
}

}  // namespace

const LcmsLibrary* lcmsLibrary() {
    static const LcmsLibrary* const library = load();
    return library;
}

}  // namespace cliptint
