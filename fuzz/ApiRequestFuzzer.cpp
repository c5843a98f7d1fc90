// libFuzzer entry point; the invariants are in fuzz/ApiRequestChecks.cpp.
#include "fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzcheck::CheckApiRequest(data, size);
    return 0;
}
