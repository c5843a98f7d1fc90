# Cross toolchain for 64-bit ARM Linux (Debian's crossbuild-essential-arm64):
# the Linux programs and their tests for a Raspberry Pi or any arm64 Debian.
# The arm64 libraries live beside the build machine's in the multiarch
# folders, so no sysroot is needed; the tests run under QEMU's user mode.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# Only the arm64 .pc files, never the build machine's (which would link amd64
# libraries); the architecture-independent ones are shared.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# No find root: the libraries are found in the arm64 multiarch folder by the
# library architecture above, and header-only packages' CMake files
# (nlohmann_json) are architecture independent, found where the build
# machine keeps them.

# ctest, and the tests that start the programs, run them under emulation
# without registering anything with the kernel.
find_program(FOCUSER_QEMU_AARCH64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${FOCUSER_QEMU_AARCH64})
