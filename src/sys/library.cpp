#include "sys/library.hpp"

#include <dlfcn.h>

namespace cliptint::sys {

void* openLibrary(const char* name) {
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

bool bindSymbol(void* library, const char* name, void*& symbol) {
    symbol = dlsym(library, name);
    return symbol != nullptr;
}

}  // namespace cliptint::sys
