# Cross build for ppc64el (64-bit little-endian POWER) with Debian's cross
# compiler and the multiarch ppc64el development packages (libx11-dev:ppc64el
# and the like):
#   cmake --preset ppc64el
# The test programs run under the user-mode emulator, called explicitly.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_C_COMPILER powerpc64le-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc64le-linux-gnu-g++)

set(CMAKE_LIBRARY_ARCHITECTURE powerpc64le-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/powerpc64le-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C library beside the cross dynamic loader, as for aarch64.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le -L /usr/powerpc64le-linux-gnu -E LD_LIBRARY_PATH=/usr/powerpc64le-linux-gnu/lib)
