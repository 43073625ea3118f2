# Cross-compiles for Linux on another processor with Debian's cross
# compilers (g++-TRIPLE), whose C library lives in /usr/TRIPLE. What was
# built runs under qemu-user, which binfmt_misc starts for every program of
# that processor, so the programs the tests start run too; the presets link
# statically, so that no loader or library of the target is looked for.
# Included by the toolchain file of each processor, which sets
# CMAKE_SYSTEM_PROCESSOR and SNDBLOK_TRIPLE.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${SNDBLOK_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SNDBLOK_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${SNDBLOK_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
