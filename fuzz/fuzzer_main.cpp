// The libFuzzer entry point of one target; the build compiles this file once per target with
// ZOOMREEL_FUZZ_HARNESS naming that target's harness.
#include "fuzz_targets.h"

#ifndef ZOOMREEL_FUZZ_HARNESS
#error "ZOOMREEL_FUZZ_HARNESS must name the harness of this fuzz target"
#endif

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zoomreel::fuzz::ZOOMREEL_FUZZ_HARNESS(data, size);
}
