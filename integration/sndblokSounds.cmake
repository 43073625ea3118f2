# sndblok_add_sounds(), and, run as a script, the step that converts one source.
#
#   sndblok_add_sounds(TARGET <name>
#                      [SOURCES <file.wav>...]
#                      [MONO <file.wav>...] [STEREO <file.wav>...]
#                      [DESTINATION <folder>] [OUT_VAR <variable>])
#
# Makes the target <name>, built with `all`, which converts each source into
# its block files in DESTINATION (default: the current build folder; a
# relative folder is taken from there): <stem>.vsf for a mono source,
# <stem>_l.vsf and <stem>_r.vsf for a stereo one. Relative source names are
# taken from the current source folder.
#
# Which files a source makes depends on its channel count. For SOURCES it is
# read from the file now, and a change to the file configures again, so the
# build always knows its outputs. A file made by an earlier step of the same
# build does not exist yet: list it under MONO or STEREO instead; the count
# is then checked when it is converted. Outputs that a source no longer
# makes (it turned from stereo to mono, or left the list) are removed, and
# so are those of a call renamed or taken out, by the build of another call
# into the same folder.
#
# A good conversion prints nothing. A failing one fails the build with the
# source's name and what sndblok printed. OUT_VAR receives the block files.

function(_sndblok_channels file result)
    # An accepted file has its format chunk right after the RIFF header, so
    # the channel count is at offset 22. Anything else is for sndblok itself
    # to refuse: 0.
    set(${result} 0 PARENT_SCOPE)
    if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        return()
    endif()
    file(READ "${file}" head LIMIT 24 HEX)
    if(head MATCHES "^52494646........57415645666d7420............(0100|0200)$")
        string(SUBSTRING "${CMAKE_MATCH_1}" 1 1 channels)
        set(${result} ${channels} PARENT_SCOPE)
    endif()
endfunction()

# The block files of `stem` in `folder` for a count of channels.
function(_sndblok_outputs folder stem channels result)
    if(channels EQUAL 2)
        set(${result} "${folder}/${stem}_l.vsf" "${folder}/${stem}_r.vsf" PARENT_SCOPE)
    else()
        set(${result} "${folder}/${stem}.vsf" PARENT_SCOPE)
    endif()
endfunction()

# This file, which the build runs; a property, since functions are seen
# everywhere and variables only below where the package was found.
set_property(GLOBAL PROPERTY _sndblok_script "${CMAKE_CURRENT_LIST_FILE}")

function(sndblok_add_sounds)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;DESTINATION;OUT_VAR" "SOURCES;MONO;STEREO")
    if(NOT arg_TARGET OR arg_UNPARSED_ARGUMENTS)
        message(FATAL_ERROR "sndblok_add_sounds: TARGET <name> is needed, and takes SOURCES, MONO, "
                            "STEREO, DESTINATION and OUT_VAR; not: ${arg_UNPARSED_ARGUMENTS}")
    endif()
    set(folder "${CMAKE_CURRENT_BINARY_DIR}")
    if(arg_DESTINATION)
        get_filename_component(folder "${arg_DESTINATION}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    # Converted beside a link to the source, then moved into place whole.
    set(stage "${folder}/.sndblok")
    set(manifest "${stage}/${arg_TARGET}.outputs")

    get_property(script GLOBAL PROPERTY _sndblok_script)
    set(all "")
    foreach(kind SOURCES MONO STEREO)
        foreach(source IN LISTS arg_${kind})
            # Characters that Ninja or make files cannot hold in a name, and
            # brackets, which keep a list from being split; a ; has already
            # split the name in two, as a list.
            if(CMAKE_HOST_WIN32)
                string(REPLACE "\\" "/" source "${source}")
            endif()
            string(REGEX MATCH "[^/]*$" name "${source}")
            if(name MATCHES "[\\\\|<>#\":\t\n\r]" OR source MATCHES "[][;]")
                message(FATAL_ERROR "sndblok_add_sounds: ${source}: names with \\ ; : | < > # \" [ ] "
                                    "or a tab cannot be built; rename it")
            endif()
            get_filename_component(source "${source}" ABSOLUTE)
            get_filename_component(name "${source}" NAME)
            if(NOT name MATCHES "^(.*)\\.wav$")
                message(FATAL_ERROR "sndblok_add_sounds: ${source} does not end in .wav (a name "
                                    "with ; is taken apart, as a list)")
            endif()
            set(stem "${CMAKE_MATCH_1}")
            if(kind STREQUAL "SOURCES")
                if(NOT EXISTS "${source}")
                    message(FATAL_ERROR "sndblok_add_sounds: ${source} does not exist; a file that the "
                                        "build makes goes under MONO or STEREO")
                endif()
                _sndblok_channels("${source}" channels)
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
            elseif(kind STREQUAL "MONO")
                set(channels 1)
            else()
                set(channels 2)
            endif()
            _sndblok_outputs("${folder}" "${stem}" "${channels}" outputs)
            foreach(output IN LISTS outputs)
                string(MD5 key "${output}")
                get_property(other GLOBAL PROPERTY _sndblok_${key})
                if(other)
                    message(FATAL_ERROR "sndblok_add_sounds: ${other} and ${source} both make ${output}")
                endif()
                set_property(GLOBAL PROPERTY _sndblok_${key} "${source}")
            endforeach()
            file(RELATIVE_PATH shown "${CMAKE_BINARY_DIR}" "${source}")
            add_custom_command(OUTPUT ${outputs}
                COMMAND "${CMAKE_COMMAND}" "-DSNDBLOK=$<TARGET_FILE:sndblok::sndblok>"
                        "-DSOURCE=${source}" "-DCHANNELS=${channels}" "-DFOLDER=${folder}"
                        -P "${script}"
                DEPENDS "${source}" "$<TARGET_FILE:sndblok::sndblok>" "${script}"
                COMMENT "sndblok ${shown}"
                VERBATIM)
            list(APPEND all ${outputs})
        endforeach()
    endforeach()

    # What an earlier configuration made and this one does not goes now;
    # the build makes again whatever another source still claims.
    if(EXISTS "${manifest}")
        file(STRINGS "${manifest}" earlier)
        foreach(output IN LISTS earlier)
            list(FIND all "${output}" kept)
            if(kept EQUAL -1)
                file(REMOVE "${output}")
            endif()
        endforeach()
    endif()
    string(REPLACE ";" "\n" lines "${all}")
    file(WRITE "${manifest}" "${lines}\n")

    # A call renamed or taken out leaves its manifest behind. The first call
    # into a folder has the build remove what any manifest there lists and
    # no call claims, whenever the claims change; they are complete only
    # once every call has run, so they are written when CMake generates.
    string(MD5 key "${folder}")
    get_property(first GLOBAL PROPERTY _sndblok_first_${key})
    set(prune "")
    if(NOT first)
        set(first ${arg_TARGET})
        set_property(GLOBAL PROPERTY _sndblok_first_${key} ${first})
        file(GENERATE OUTPUT "${stage}/claimed"
             CONTENT "$<JOIN:$<TARGET_PROPERTY:${first},SNDBLOK_CLAIMS>,\n>\n")
        add_custom_command(OUTPUT "${stage}/pruned"
            COMMAND "${CMAKE_COMMAND}" "-DPRUNE=${folder}" -P "${script}"
            DEPENDS "${stage}/claimed" "${script}"
            VERBATIM)
        set(prune "${stage}/pruned")
    endif()

    add_custom_target(${arg_TARGET} ALL DEPENDS ${all} ${prune})
    set_property(TARGET ${first} APPEND PROPERTY SNDBLOK_CLAIMS ${all})
    if(arg_OUT_VAR)
        set(${arg_OUT_VAR} ${all} PARENT_SCOPE)
    endif()
endfunction()

# Run as a script by the build with PRUNE, a folder: removes the outputs that
# its manifests list and no call claims, and the manifests left empty.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED PRUNE)
    file(STRINGS "${PRUNE}/.sndblok/claimed" claimed)
    file(GLOB manifests "${PRUNE}/.sndblok/*.outputs")
    foreach(manifest IN LISTS manifests)
        file(STRINGS "${manifest}" listed)
        set(kept "")
        foreach(output IN LISTS listed)
            list(FIND claimed "${output}" at)
            if(at EQUAL -1)
                file(REMOVE "${output}")
            else()
                string(APPEND kept "${output}\n")
            endif()
        endforeach()
        if(kept)
            file(WRITE "${manifest}" "${kept}")
        else()
            file(REMOVE "${manifest}")
        endif()
    endforeach()
    file(TOUCH "${PRUNE}/.sndblok/pruned")
    return()
endif()

# Run as a script by the build: converts SOURCE, of CHANNELS channels, into
# FOLDER with the program SNDBLOK.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    get_filename_component(name "${SOURCE}" NAME)
    string(REGEX REPLACE "\\.wav$" "" stem "${name}")
    _sndblok_channels("${SOURCE}" found)
    if(found AND NOT found EQUAL CHANNELS)
        set(kinds x MONO STEREO)
        list(GET kinds ${found} is)
        list(GET kinds ${CHANNELS} said)
        # Lines that begin with a blank are printed as they are, not wrapped.
        message(FATAL_ERROR " sndblok: ${SOURCE} is ${is}, but was given to "
                            "sndblok_add_sounds as ${said}")
    endif()
    # A folder of this conversion's own, so that two builds at once do not
    # take each other's files.
    string(RANDOM LENGTH 12 run)
    set(stage "${FOLDER}/.sndblok/run.${run}")
    _sndblok_outputs("${stage}" "${stem}" "${CHANNELS}" made)
    file(MAKE_DIRECTORY "${stage}")
    file(CREATE_LINK "${SOURCE}" "${stage}/${name}" SYMBOLIC COPY_ON_ERROR)
    execute_process(COMMAND "${SNDBLOK}" "${name}" WORKING_DIRECTORY "${stage}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE printed ERROR_VARIABLE printed)
    if(NOT status EQUAL 0)
        file(REMOVE_RECURSE "${stage}")
        # The usage banner says nothing a build log needs.
        string(REGEX REPLACE "\n=+\nUSAGE:.*" "" printed "${printed}")
        string(STRIP "${printed}" printed)
        string(REGEX REPLACE "\n+" "\n " printed "${printed}")
        message(FATAL_ERROR " sndblok cannot convert ${SOURCE}:\n ${printed}")
    endif()
    foreach(file IN LISTS made)
        get_filename_component(output "${file}" NAME)
        file(RENAME "${file}" "${FOLDER}/${output}")
    endforeach()
    file(REMOVE_RECURSE "${stage}")
endif()
