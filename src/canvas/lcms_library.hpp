#pragma once

// Little CMS 2, loaded when the first tagged picture needs it. Debian ships it as a shared
// library only, and mapping one more library into every run costs an untagged icon probe
// measurable start-up time (bench/results.md), so the tool does not link it: the library
// (CLIPTINT_LCMS2_LIBRARY: liblcms2.so.2 on Linux, Homebrew's liblcms2.2.dylib on macOS) is
// opened on first use and its few functions are reached through this table.

#include <lcms2.h>

namespace cliptint {

struct LcmsLibrary {
    decltype(&cmsOpenProfileFromMem) openProfileFromMem;
    decltype(&cmsCloseProfile) closeProfile;
    decltype(&cmsCreate_sRGBProfile) createSrgbProfile;
    decltype(&cmsGetColorSpace) colourSpace;
    decltype(&cmsGetDeviceClass) deviceClass;
    decltype(&cmsCreateTransform) createTransform;
    decltype(&cmsDeleteTransform) deleteTransform;
    decltype(&cmsDoTransform) doTransform;
};

// The loaded library, its error messages silenced; nullptr when it is not installed or lacks
// one of the functions, and then tagged pictures are taken as they stand. Loaded once per
// process.
const LcmsLibrary* lcmsLibrary();

}  // namespace cliptint
