// libFuzzer entry point; the invariants are in fuzz/FuzzCheck.h.
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzcheck::CheckLink(data, size);
    return 0;
}
