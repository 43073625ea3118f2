# Linux on 32-bit ARM with hardware floating point (armhf).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(SNDBLOK_TRIPLE arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
