# Cross build for ppc64el (64-bit little-endian POWER):
#   cmake --preset ppc64el
set(CROSS_TRIPLET powerpc64le-linux-gnu)
set(CROSS_PROCESSOR ppc64le)
set(CROSS_EMULATOR qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
