# Cross build for s390x (IBM Z, big-endian):
#   cmake --preset s390x
set(CROSS_TRIPLET s390x-linux-gnu)
set(CROSS_PROCESSOR s390x)
set(CROSS_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
