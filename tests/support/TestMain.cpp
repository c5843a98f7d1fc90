// Every Wine test program runs its tests on one single-threaded apartment, as
// the programs that load the driver do.
#include <objbase.h>

#include <gtest/gtest.h>

#include "tests/support/CrashReport.h"

int main(int argc, char** argv) {
    InstallCrashReport();
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
