#pragma once

// Where Linux has a call of its own (pipe2, close_range, MADV_HUGEPAGE, ...), src/sys uses it;
// elsewhere it takes a portable POSIX way instead, as it also does on Linux in a build with
// CLIPTINT_POSIX_FALLBACKS, so that the paths a macOS build takes run in the Linux test suite.
// Only src/sys looks at this.
#if defined(__linux__) && !defined(CLIPTINT_POSIX_FALLBACKS)
#define CLIPTINT_LINUX_CALLS 1
#else
#define CLIPTINT_LINUX_CALLS 0
#endif
