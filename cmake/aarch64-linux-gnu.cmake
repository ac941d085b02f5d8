# Cross-build for the flight computer (64-bit Arm, Debian multiarch).
#
#   cmake -S . -B build-arm64 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#
# Needs crossbuild-essential-arm64 and the arm64 -dev packages
# (dpkg --add-architecture arm64; apt-get install libspdlog-dev:arm64 ...).
# Test programs run through qemu-aarch64 (qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# The cross C library lives in /usr/aarch64-linux-gnu; the multiarch -dev
# packages in /usr/lib/aarch64-linux-gnu, reached through "/" and the
# library architecture above. Host libraries sit in /usr/lib/x86_64-linux-gnu
# and are never searched.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must see only the arm64 .pc files (and the arch-independent ones).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Test programs (and gtest discovery) run under user-mode emulation, with the
# arm64 loader and C library that the multiarch -dev packages bring
# (/lib/ld-linux-aarch64.so.1). Not "-L /usr/aarch64-linux-gnu": that loader
# comes from the cross C library, which is a different build from the
# multiarch libc.so.6 it then finds through /etc/ld.so.cache, and the pair
# hangs in the first pthread_create.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
