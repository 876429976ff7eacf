#pragma once

// Shared libraries opened at run time, for the few that only some runs need: a library that is
// linked is mapped and relocated at every start, which costs a short run more than its work.

namespace cliptint::sys {

// The library of that file name, as the dynamic loader finds it, with all its symbols bound now
// and kept to itself; nullptr when it is not installed. Never closed: it serves the rest of the
// process.
void* openLibrary(const char* name);

// The address of the library's symbol of that name, in symbol; false when it has none.
bool bindSymbol(void* library, const char* name, void*& symbol);

// Points function at the library's function of that name; false when it has none.
template <class Function>
bool bindFunction(void* library, const char* name, Function& function) {
    void* symbol = nullptr;
    if (!bindSymbol(library, name, symbol)) return false;
    function = reinterpret_cast<Function>(symbol);
    return true;
}

}  // namespace cliptint::sys
