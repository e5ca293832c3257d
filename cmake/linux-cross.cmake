# What every cross build for Linux here shares, with Debian's cross compiler
# and multiarch development packages; included by cmake/<triplet>.cmake after
# it sets CROSS_TRIPLET (s390x-linux-gnu), CROSS_PROCESSOR (s390x) and
# CROSS_EMULATOR (qemu-s390x). The test programs run under the user-mode
# emulator, called explicitly.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${CROSS_TRIPLET}-g++)

# Libraries and their CMake packages live in /usr/lib/<triplet> and headers
# in /usr/include; the cross C library lives in /usr/<triplet>.
set(CMAKE_LIBRARY_ARCHITECTURE ${CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH /usr/${CROSS_TRIPLET} /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs load the C library beside the cross dynamic loader: found in
# the multiarch directory instead, a C library of another build than the
# loader hangs the first thread the program starts.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CROSS_EMULATOR} -L /usr/${CROSS_TRIPLET} -E LD_LIBRARY_PATH=/usr/${CROSS_TRIPLET}/lib)

# The cross check disassembles with the triplet's objdump; forced, since a
# configure that ran before the cross binutils were installed leaves the
# machine's own in the cache.
set(CMAKE_OBJDUMP ${CROSS_TRIPLET}-objdump CACHE FILEPATH "objdump of the cross binutils" FORCE)
