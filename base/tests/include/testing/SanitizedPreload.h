#pragma once
// For test programs whose code preloads a library built with AddressSanitizer into a child
// program built without it (the trial load of NVML's library, run with LD_PRELOAD): the
// sanitizer's runtime refuses to run there, as it does not come first, and under the presets'
// abort_on_error it refuses by abort(), a death by signal that the trial takes for a library the
// loader cannot map. With verify_asan_link_order=0 the child runs as it would with a library
// built without a sanitizer. Only what children inherit changes: a running process reads its
// sanitizer options once, when it starts. For a static initialiser, before any thread runs.

#include <stdlib.h>

#include <string>

namespace tessly::testing {

inline bool letSanitizedLibrariesPreload() {
    if (const char* options = ::getenv("ASAN_OPTIONS")) {
        const std::string more = std::string(options) + ":verify_asan_link_order=0";
        ::setenv("ASAN_OPTIONS", more.c_str(), 1);
    }
    return true;
}

}  // namespace tessly::testing
