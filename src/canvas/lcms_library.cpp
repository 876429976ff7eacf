#include "canvas/lcms_library.hpp"

#include <dlfcn.h>

namespace cliptint {

namespace {

// lcms2 reports damaged profiles through this handler; its default prints nothing today, but
// the reply line must stay the only output whatever a later version does.
void ignoreLcmsError(cmsContext, cmsUInt32Number, const char*) {}

template <class Function>
bool bind(void* handle, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(handle, name));
    return function != nullptr;
}

// The handle is never closed: the library serves the rest of the run.
const LcmsLibrary* load() {
    void* handle = dlopen(CLIPTINT_LCMS2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static LcmsLibrary library{};
    decltype(&cmsSetLogErrorHandler) setLogErrorHandler = nullptr;
    const bool bound = bind(handle, "cmsSetLogErrorHandler", setLogErrorHandler) &&
                       bind(handle, "cmsOpenProfileFromMem", library.openProfileFromMem) &&
                       bind(handle, "cmsCloseProfile", library.closeProfile) &&
                       bind(handle, "cmsCreate_sRGBProfile", library.createSrgbProfile) &&
                       bind(handle, "cmsGetColorSpace", library.colourSpace) &&
                       bind(handle, "cmsGetDeviceClass", library.deviceClass) &&
                       bind(handle, "cmsCreateTransform", library.createTransform) &&
                       bind(handle, "cmsDeleteTransform", library.deleteTransform) &&
                       bind(handle, "cmsDoTransform", library.doTransform);
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
