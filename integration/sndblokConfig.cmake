# find_package(sndblok): the program as the imported target sndblok::sndblok,
# and sndblok_add_sounds() to turn WAVE files into block files in a build.
# Works with CMake 3.18 and later.
#
# The program is found relative to this file, wherever the package was
# unpacked: in the install tree (lib/cmake/sndblok, program in bin/), in a
# Linux tarball (lib/cmake/sndblok, program at the top) or in the Windows
# zip (cmake/, program at the top). When cross-compiling, this file may
# have been found inside the target's sysroot, beside a program built for
# the target; the program that runs in the build is the one of the machine
# that builds, so it is looked for on that machine's PATH instead. A package
# installed only on the machine that builds is not looked for in a sysroot:
# name it with -Dsndblok_DIR=<prefix>/lib/cmake/sndblok. Set
# SNDBLOK_EXECUTABLE to choose the program yourself.

if(NOT SNDBLOK_EXECUTABLE)
    # Compared as real paths: a root may be written with a trailing slash,
    # through a link, or relative to the build.
    set(_sndblok_here "${CMAKE_CURRENT_LIST_DIR}")
    get_filename_component(_sndblok_real "${_sndblok_here}" REALPATH)
    set(_sndblok_inside_root FALSE)
    foreach(_sndblok_root IN LISTS CMAKE_FIND_ROOT_PATH CMAKE_SYSROOT)
        if(CMAKE_CROSSCOMPILING AND _sndblok_root)
            get_filename_component(_sndblok_root "${_sndblok_root}" REALPATH BASE_DIR "${CMAKE_BINARY_DIR}")
            string(REGEX REPLACE "/+$" "" _sndblok_root "${_sndblok_root}")
            string(FIND "${_sndblok_real}/" "${_sndblok_root}/" _sndblok_at)
            if(_sndblok_at EQUAL 0)
                set(_sndblok_inside_root TRUE)
            endif()
        endif()
    endforeach()
    if(_sndblok_inside_root)
        find_program(SNDBLOK_EXECUTABLE sndblok NO_CMAKE_FIND_ROOT_PATH)
    else()
        find_program(SNDBLOK_EXECUTABLE sndblok
                     PATHS "${_sndblok_here}/../../../bin" "${_sndblok_here}/../../.." "${_sndblok_here}/.."
                     NO_DEFAULT_PATH)
    endif()
endif()

include("${CMAKE_CURRENT_LIST_DIR}/sndblokSounds.cmake")

if(NOT SNDBLOK_EXECUTABLE OR NOT EXISTS "${SNDBLOK_EXECUTABLE}")
    set(sndblok_FOUND FALSE)
    set(sndblok_NOT_FOUND_MESSAGE "no sndblok program (SNDBLOK_EXECUTABLE: ${SNDBLOK_EXECUTABLE}) \
beside ${CMAKE_CURRENT_LIST_FILE} or, when cross-compiling, on this machine's PATH; set \
SNDBLOK_EXECUTABLE to the program")
    return()
endif()
if(NOT TARGET sndblok::sndblok)
    # GLOBAL, so that a call in any folder of the project can run it.
    add_executable(sndblok::sndblok IMPORTED GLOBAL)
    set_target_properties(sndblok::sndblok PROPERTIES IMPORTED_LOCATION "${SNDBLOK_EXECUTABLE}")
endif()
