# Linux on 64-bit ARM (arm64).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(SNDBLOK_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
