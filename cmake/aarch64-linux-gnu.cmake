# Cross build for 64-bit ARM:
#   cmake --preset aarch64
set(CROSS_TRIPLET aarch64-linux-gnu)
set(CROSS_PROCESSOR aarch64)
set(CROSS_EMULATOR qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
