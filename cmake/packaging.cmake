# Installing, and the packages: a Debian package on Linux, a zip on Windows.
# What they hold is made reproducibly: every date comes from
# SOURCE_DATE_EPOCH, which is the time of the last commit unless it is set.

if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND git log -1 --format=%ct
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                    RESULT_VARIABLE failed ERROR_QUIET)
    if(failed OR NOT epoch)
        # Sources without their history: the changelog is as old as they are.
        file(TIMESTAMP ${PROJECT_SOURCE_DIR}/CHANGELOG.md epoch "%s" UTC)
    endif()
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
set(SNDBLOK_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
string(TIMESTAMP SNDBLOK_DATE "%Y-%m-%d" UTC)  # follows SOURCE_DATE_EPOCH

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert 32 kHz mu-law WAVE files into Vantrel Sound Format block files")
set(CPACK_PACKAGE_DESCRIPTION
    "sndblok prepares sound for the Kestrane ULAW audio driver: it checks that a
RIFF WAVE file holds 32 kHz G.711 mu-law audio and copies its sample bytes,
unchanged, into one file of 512-byte blocks per channel.")

set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# CPack runs apart from this configuration: hand it the same date, and the
# script that dates what it stages.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-epoch.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "set(ENV{SOURCE_DATE_EPOCH} ${SNDBLOK_SOURCE_DATE_EPOCH})\n")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/stamp-staged-files.cmake)

# The manual page: docs/sndblok.1.md, where each line "<!-- README.md:
# HEADING -->" stands for the README's text under that heading, down to the
# next heading, or for its first paragraph or what follows that (", first
# paragraph", ", after the first paragraph"); made into roff by lowdown,
# with code as it is typed (roff-code.awk).
find_program(LOWDOWN lowdown REQUIRED)
file(READ README.md readme)
set(readme "\n${readme}")
file(READ docs/sndblok.1.md page)
string(CONFIGURE "${page}" page @ONLY)
string(REGEX MATCHALL "<!-- README.md: [^\n]* -->" parts "${page}")
foreach(part IN LISTS parts)
    string(REGEX REPLACE "^<!-- README.md: (.*) -->$" "\\1" heading "${part}")
    set(paragraphs "")
    if(heading MATCHES "^(.*), (first paragraph|after the first paragraph)$")
        set(heading "${CMAKE_MATCH_1}")
        set(paragraphs "${CMAKE_MATCH_2}")
    endif()
    string(FIND "${readme}" "\n${heading}\n" at)
    if(at EQUAL -1 OR NOT heading MATCHES "^#+ ")
        message(FATAL_ERROR "docs/sndblok.1.md: README.md has no heading for ${part}")
    endif()
    string(LENGTH "\n${heading}\n" length)
    math(EXPR at "${at} + ${length}")
    string(SUBSTRING "${readme}" ${at} -1 text)
    string(FIND "${text}" "\n#" end)
    string(SUBSTRING "${text}" 0 ${end} text)
    # Blank lines off, the indentation of a code block kept.
    string(REGEX REPLACE "^\n+|\n+$" "" text "${text}")
    string(FIND "${text}" "\n\n" end)
    if(paragraphs STREQUAL "first paragraph")
        string(SUBSTRING "${text}" 0 ${end} text)
    elseif(paragraphs)
        math(EXPR end "${end} + 2")
        string(SUBSTRING "${text}" ${end} -1 text)
    endif()
    string(REPLACE "${part}" "${text}" page "${page}")
endforeach()
# Written only when it changes, so that the page is made again only then.
file(WRITE ${PROJECT_BINARY_DIR}/sndblok.1.md.new "${page}")
configure_file(${PROJECT_BINARY_DIR}/sndblok.1.md.new sndblok.1.md COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS README.md docs/sndblok.1.md)
set(SNDBLOK_MANUAL ${PROJECT_BINARY_DIR}/sndblok.1)
add_custom_command(OUTPUT sndblok.1 BYPRODUCTS sndblok.1.roff
    COMMAND ${LOWDOWN} -s -tman --parse-no-intraemph -o sndblok.1.roff sndblok.1.md
    COMMAND awk -f ${PROJECT_SOURCE_DIR}/cmake/roff-code.awk sndblok.1.roff > sndblok.1
    DEPENDS ${PROJECT_BINARY_DIR}/sndblok.1.md cmake/roff-code.awk)
add_custom_target(manual ALL DEPENDS sndblok.1)

# The CMake package: find_package(sndblok) and sndblok_add_sounds(). It
# describes a program for the machine that builds, whatever the target.
include(CMakePackageConfigHelpers)
write_basic_package_version_file(sndblokConfigVersion.cmake
    COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
set(sndblok_steps integration/sndblokSteps.cmake integration/sndblok-convert.sh)
set(sndblok_cmake_package integration/sndblokConfig.cmake integration/sndblokSounds.cmake
    ${sndblok_steps} ${PROJECT_BINARY_DIR}/sndblokConfigVersion.cmake)

# The README of the zip and the tarballs, which speaks only of what they hold.
if(WIN32)
    set(SNDBLOK_PROGRAM sndblok.exe)
    set(SNDBLOK_PLACE "run it from the folder it is in, or put that folder on your PATH")
    set(SNDBLOK_MANUAL_FILE sndblok.txt)
    set(SNDBLOK_READ "Plain text")
    set(SNDBLOK_CMAKE_DIR "cmake\\")
    set(SNDBLOK_RECIPE "`sndblok-folder.cmd`, which converts every .wav file in a folder and names
  each one that fails: `sndblok-folder sounds`.")
else()
    set(SNDBLOK_PROGRAM sndblok)
    set(SNDBLOK_PLACE "copy it into a folder on your PATH")
    set(SNDBLOK_MANUAL_FILE sndblok.1)
    set(SNDBLOK_READ "Read it with `man -l sndblok.1`, or copy it into a `man1` folder for `man sndblok`")
    set(SNDBLOK_CMAKE_DIR "lib/cmake/sndblok/")
    set(SNDBLOK_RECIPE "`sndblok.mk`, the same for GNU make: set `SNDBLOK_SOURCES`, then `include` it.")
endif()
configure_file(docs/README.package.in package/README.md @ONLY)

if(WIN32)
    # The program with its documents beside it, the manual page as text.
    find_program(GROFF groff REQUIRED)
    add_custom_command(OUTPUT sndblok.txt
        COMMAND ${GROFF} -k -t -man -Tutf8 -P-cbou ${SNDBLOK_MANUAL} > sndblok.txt
        DEPENDS ${SNDBLOK_MANUAL})
    add_custom_target(manual_text ALL DEPENDS sndblok.txt)
    install(TARGETS sndblok RUNTIME DESTINATION .)
    install(FILES ${PROJECT_BINARY_DIR}/package/README.md LICENSE CHANGELOG.md
            ${PROJECT_BINARY_DIR}/sndblok.txt integration/sndblok-folder.cmd DESTINATION .)
    install(FILES README.md DESTINATION doc)
    install(FILES ${sndblok_cmake_package} DESTINATION cmake)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME sndblok-${PROJECT_VERSION}-win64)
    include(CPack)
    return()
endif()

# Debian's copyright file: the licence text indented, blank lines as ".".
file(READ LICENSE license)
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
set(SNDBLOK_LICENSE_TEXT " ${license}")
configure_file(docs/copyright.in copyright @ONLY)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "sndblok maintainers <maintainers@users.noreply.c-seed-d7ccdba7.example>")

# The changelog in Debian's format, made from CHANGELOG.md; the manual page
# compressed. gzip -n leaves out the name and time, so builds agree.
add_custom_command(OUTPUT changelog.gz
    COMMAND sh -c "awk -v package=\"$1\" -v maintainer=\"$2\" -f \"$3\" \"$4\" | gzip -9n > changelog.gz"
            sh ${PROJECT_NAME} ${CPACK_DEBIAN_PACKAGE_MAINTAINER}
            ${PROJECT_SOURCE_DIR}/cmake/debian-changelog.awk ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    DEPENDS CHANGELOG.md cmake/debian-changelog.awk
    VERBATIM)
add_custom_command(OUTPUT sndblok.1.gz
    COMMAND gzip -9n < ${SNDBLOK_MANUAL} > sndblok.1.gz
    DEPENDS ${SNDBLOK_MANUAL})
# Debian keeps documents of more than a few kilobytes compressed.
add_custom_command(OUTPUT README.md.gz
    COMMAND gzip -9n < ${PROJECT_SOURCE_DIR}/README.md > README.md.gz
    DEPENDS README.md)
add_custom_target(documents ALL DEPENDS changelog.gz sndblok.1.gz README.md.gz)

include(GNUInstallDirs)
install(CODE "set(sndblok_install_dirs
    ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_DOCDIR}
    ${CMAKE_INSTALL_LIBDIR}/cmake/sndblok ${CMAKE_INSTALL_DATADIR}/sndblok)
    set(sndblok_build_dir \"${PROJECT_BINARY_DIR}\")")
configure_file(cmake/uninstall.cmake.in uninstall.cmake @ONLY)
install(SCRIPT cmake/open-install-dirs.cmake)
install(TARGETS sndblok RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_BINARY_DIR}/sndblok.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        ${PROJECT_BINARY_DIR}/README.md.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${sndblok_cmake_package} DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/sndblok)
# sndblok.mk runs the same steps as the CMake package, from beside itself.
install(FILES integration/sndblok.mk ${sndblok_steps} DESTINATION ${CMAKE_INSTALL_DATADIR}/sndblok)
install(SCRIPT cmake/open-install-dirs.cmake)

set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(CMAKE_CROSSCOMPILING)
    # Debian's name for the processor; dpkg would name this machine's.
    set(debian_arch_aarch64 arm64)
    set(debian_arch_arm armhf)
    set(debian_arch_s390x s390x)
    set(debian_arch_x86_64 amd64)
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${debian_arch_${CMAKE_SYSTEM_PROCESSOR}})
endif()
include(CPack)
