# Linux on IBM Z, big-endian (s390x).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(SNDBLOK_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
