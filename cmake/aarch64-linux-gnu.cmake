# Cross-compiling for 64-bit ARM Linux (a Raspberry Pi 3/4/5 or any arm64 board) on Debian 12
# with Debian's cross compiler (g++-aarch64-linux-gnu) and the :arm64 multiarch dev packages
# (dpkg --add-architecture arm64; qt6-base-dev:arm64, libgtest-dev:arm64, libfuse3-dev:arm64).
# The libraries and CMake packages then lie in the host's own tree, under
# /usr/lib/aarch64-linux-gnu, so no sysroot is needed. scripts/arm64-build.sh uses this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(ZARN60_CROSS_TRIPLET aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${ZARN60_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${ZARN60_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${ZARN60_CROSS_TRIPLET})

# With CMAKE_LIBRARY_ARCHITECTURE set, find_library and find_package search
# /usr/lib/aarch64-linux-gnu; the amd64 folder beside it is not on their path. Programs
# (pkg-config, gzip) are the build machine's.

# pkg-config (libfuse3) reads the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ZARN60_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# Qt's code generators need nothing here: Debian's arm64 Qt CMake files name moc, uic and rcc
# by their path in /usr/lib/qt6/libexec, which the build machine's qt6-base-dev-tools fills
# (Multi-Arch: foreign, so the amd64 programs serve qt6-base-dev:arm64).

# Test programs and the programs run while building (the icon writer) run under qemu-user.
# The libraries' search path is the host's multiarch tree, as on the board itself.
find_program(ZARN60_QEMU_AARCH64 NAMES qemu-aarch64-static qemu-aarch64)
if(ZARN60_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZARN60_QEMU_AARCH64})
endif()
