# Cross build for the controller: Debian's armhf (32-bit ARM, hard float) with Debian's cross
# compiler and the armhf Qt 6 installed through multiarch (/usr/lib/arm-linux-gnueabihf).
# moc, rcc and uic are the PC's own (Qt's host tools), as the target's cannot run here.
#
#   cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/armhf-toolchain.cmake
#
# ZEF400_TARGET_RUNNER (environment, at configure time) is how target programs are started on
# this machine; CTest starts the test programs through it. Without binfmt support the emulator
# has to be named: the default is qemu-user with the multiarch armhf C library (/lib/ld-linux-
# armhf.so.3 and /lib/arm-linux-gnueabihf), the one the armhf Qt comes with. The cross compiler's
# own copy under /usr/arm-linux-gnueabihf is another build: its loader with the multiarch libc
# crashes every Qt test at start (SIGSEGV at address 8), so "-L /usr/arm-linux-gnueabihf" is wrong.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_STRIP arm-linux-gnueabihf-strip CACHE FILEPATH "")

# Multiarch: target libraries and packages under /usr/lib/arm-linux-gnueabihf, the C library
# of the cross compiler under /usr/arm-linux-gnueabihf; programs are always the PC's.
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QT_HOST_PATH /usr CACHE PATH "")
set(Qt6HostInfo_DIR /usr/lib/x86_64-linux-gnu/cmake/Qt6HostInfo CACHE PATH "")

if(DEFINED ENV{ZEF400_TARGET_RUNNER})
  separate_arguments(_runner UNIX_COMMAND "$ENV{ZEF400_TARGET_RUNNER}")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${_runner} CACHE STRING "How this machine starts a target program" FORCE)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L / CACHE STRING "How this machine starts a target program")
endif()

# Debian packages name the architecture themselves.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf CACHE STRING "")

# GCC notes every argument whose passing changed for ARM in GCC 7.1; everything here, Qt
# included, comes from one GCC 12, so the notes only bury real warnings.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
