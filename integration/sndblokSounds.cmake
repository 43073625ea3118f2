# sndblok_add_sounds(): block files from WAVE files and recordings, in a build.
#
#   sndblok_add_sounds(TARGET <target>
#                      [SOURCES <file.wav>...] [MONO <file.wav>...] [STEREO <file.wav>...]
#                      [ORIGINALS <recording>...] [MONO_ORIGINALS <recording>...]
#                      [DESTINATION <folder>] [MANIFEST <header>] [EMBED]
#                      [OUT_VAR <variable>])
#
# Converts each sound into its block files in DESTINATION (default: the
# current build folder; a relative folder is taken from there): <stem>.vsf
# for a mono sound, <stem>_l.vsf and <stem>_r.vsf for a stereo one.
# DESTINATION holds nothing else; what the build keeps for itself is in
# CMakeFiles/sndblok of the build folder.
#
# TARGET: a target that exists (an executable, a library, a custom target
# that makes an image) is made to depend on the conversions; another name
# becomes a custom target built with `all`, as add_custom_target() makes it.
# A target that uses the block files must be TARGET or depend on it.
#
# Which files a sound makes depends on its channel count. SOURCES are mu-law
# WAVE files as sndblok takes them; their count is read now, and a change to
# one configures again. MONO and STEREO are WAVE files that the build itself
# makes, whose count is checked when they are converted; a relative name is
# taken from the current build folder unless the file is in the current
# source folder. ORIGINALS are recordings in any format sox reads, prepared
# into 32 kHz mu-law WAVE files in the build folder with the same bytes in
# every build, their channels kept; MONO_ORIGINALS are mixed down to mono.
# An original's block files are named by its name less its extension.
#
# MANIFEST: a C header (relative: from the current build folder) listing
# every sound by name, with its C name, block files, bytes and blocks,
# rewritten only when that changes; for a TARGET that compiles, its folder is
# among TARGET's include folders. EMBED compiles the block files' bytes into
# TARGET, an executable or a library made in the current folder, and the
# manifest points to them. OUT_VAR receives the block files.
#
# Block files that no call makes any more (a source left the list or turned
# from stereo to mono, a call went) are removed by the next build. A good
# conversion prints nothing; a failing one fails the build with the source's
# name and what sndblok printed.

include("${CMAKE_CURRENT_LIST_DIR}/sndblokSteps.cmake")
# Where the build finds the steps; a property, since functions are seen
# everywhere and variables only below where the package was found.
set_property(GLOBAL PROPERTY _sndblok_steps "${CMAKE_CURRENT_LIST_DIR}/sndblokSteps.cmake")
set_property(GLOBAL PROPERTY _sndblok_convert "${CMAKE_CURRENT_LIST_DIR}/sndblok-convert.sh")

# Characters that a Ninja or make file cannot carry in a name, and those
# that take a CMake list apart: refused in a path, by name. On Windows the
# colon of a drive is no such character. make also reads % as a pattern, so
# a rule for such a name would be no rule for that file.
function(_sndblok_check_path what path)
    if(CMAKE_HOST_WIN32)
        string(REGEX REPLACE "^[A-Za-z]:" "" path "${path}")
    endif()
    if(path MATCHES "[][\\\\;:|<>#\"$\t\n\r]")
        message(FATAL_ERROR "sndblok_add_sounds: ${what} holds one of \\ ; : | < > # \" [ ] $ "
                            "or a tab, which a build cannot carry: rename it")
    endif()
    if(CMAKE_GENERATOR MATCHES "Makefiles" AND path MATCHES "%")
        message(FATAL_ERROR "sndblok_add_sounds: ${what} holds %, which make takes for a "
                            "pattern: rename it, or build with Ninja")
    endif()
endfunction()

# `thing` (a sound in a folder, a block file) is `source`'s alone in this
# configure: a second source that claims it is refused, naming both.
function(_sndblok_claim thing source clash)
    string(MD5 key "${thing}")
    get_property(other GLOBAL PROPERTY _sndblok_${key})
    if(other)
        message(FATAL_ERROR "sndblok_add_sounds: ${other} and ${source} ${clash}")
    endif()
    set_property(GLOBAL PROPERTY _sndblok_${key} "${source}")
endfunction()

# A name with / between folders: on Windows \ too separates them. (Not
# file(TO_CMAKE_PATH), which takes a POSIX name apart at its colons.)
function(_sndblok_slashes name result)
    if(CMAKE_HOST_WIN32)
        string(REPLACE "\\" "/" name "${name}")
    endif()
    set(${result} "${name}" PARENT_SCOPE)
endfunction()

# The channel count of a mu-law WAVE file: an accepted one has its format
# chunk right after the RIFF header, so the count is at offset 22; anything
# else is for sndblok itself to refuse, and is taken as mono.
function(_sndblok_wave_channels file result)
    file(READ "${file}" head LIMIT 24 HEX)
    set(${result} 1 PARENT_SCOPE)
    if(head MATCHES "^52494646........57415645666d7420............0200$")
        set(${result} 2 PARENT_SCOPE)
    endif()
endfunction()

# The channel count of a recording, as sox reads it.
function(_sndblok_original_channels file result)
    execute_process(COMMAND "${SNDBLOK_SOX}" --i -c "${file}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE channels ERROR_VARIABLE said
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "sndblok_add_sounds: sox cannot read ${file}: ${said}")
    endif()
    set(${result} ${channels} PARENT_SCOPE)
endfunction()

# Once a configuration: the build's own folder, and the step that removes
# what no call claims any more, on which every call's conversions wait. The
# calls' claims of the configuration before join those kept from earlier
# ones, and go: each call of this one writes its own.
function(_sndblok_start state token)
    get_property(started GLOBAL PROPERTY _sndblok_started)
    if(started)
        return()
    endif()
    set_property(GLOBAL PROPERTY _sndblok_started TRUE)
    file(GLOB claim_files LIST_DIRECTORIES false "${state}/*/claims")
    set(kept "")
    if(EXISTS "${state}/kept")
        file(READ "${state}/kept" kept)
    endif()
    foreach(claims IN LISTS claim_files)
        file(READ "${claims}" text)
        string(APPEND kept "${text}")
    endforeach()
    _sndblok_write("${state}/kept" "${kept}")
    if(claim_files)
        file(REMOVE ${claim_files})
    endif()
    # Written at every configuration, so that the step runs after each. Like
    # every file written now that the build reads, CMake runs again should it
    # go missing.
    file(WRITE "${state}/configured" "")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${state}/configured")
    get_property(steps GLOBAL PROPERTY _sndblok_steps)
    add_custom_command(OUTPUT "${state}/pruned"
        COMMAND "${CMAKE_COMMAND}" -DSTEP=prune "-DSTATE=${state}" -DTOKEN=${token} -P "${steps}"
        DEPENDS "${state}/configured" "${steps}"
        VERBATIM)
    add_custom_target(sndblok_prune DEPENDS "${state}/pruned")
endfunction()

function(sndblok_add_sounds)
    cmake_parse_arguments(PARSE_ARGV 0 arg "EMBED" "TARGET;DESTINATION;MANIFEST;OUT_VAR"
                          "SOURCES;MONO;STEREO;ORIGINALS;MONO_ORIGINALS")
    # A list may be empty (a glob that found nothing); a single value may not.
    set(missing ${arg_KEYWORDS_MISSING_VALUES})
    list(REMOVE_ITEM missing SOURCES MONO STEREO ORIGINALS MONO_ORIGINALS)
    if("${arg_TARGET}" STREQUAL "" OR arg_UNPARSED_ARGUMENTS OR missing)
        message(FATAL_ERROR "sndblok_add_sounds: TARGET <name> is needed, and takes SOURCES, MONO, "
                            "STEREO, ORIGINALS, MONO_ORIGINALS, DESTINATION, MANIFEST, EMBED and "
                            "OUT_VAR; not: ${arg_UNPARSED_ARGUMENTS} ${missing}")
    endif()
    set(target ${arg_TARGET})
    # DESTINATION is a folder's name, whatever it spells: also off or 0.
    set(folder "${CMAKE_CURRENT_BINARY_DIR}")
    if(DEFINED arg_DESTINATION)
        _sndblok_slashes("${arg_DESTINATION}" destination)
        get_filename_component(folder "${destination}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
    endif()
    _sndblok_check_path("DESTINATION ${folder}" "${folder}")
    set(state "${CMAKE_BINARY_DIR}/CMakeFiles/sndblok")
    _sndblok_check_path("the build folder ${CMAKE_BINARY_DIR}" "${state}")

    # The conversions go into TARGET when the call makes it, else into a
    # target of their own that TARGET depends on.
    set(converter ${target})
    if(TARGET ${target})
        get_target_property(type ${target} TYPE)
        get_target_property(imported ${target} IMPORTED)
        get_target_property(aliased ${target} ALIASED_TARGET)
        if(imported OR aliased OR type STREQUAL "INTERFACE_LIBRARY")
            message(FATAL_ERROR "sndblok_add_sounds: TARGET ${target} is an imported, alias or "
                                "interface target; name one that the project builds")
        endif()
        set(converter ${target}_sounds)
        set(number 1)
        while(TARGET ${converter})
            math(EXPR number "${number} + 1")
            set(converter ${target}_sounds_${number})
        endwhile()
    endif()
    if(arg_EMBED)
        set(compiled EXECUTABLE STATIC_LIBRARY SHARED_LIBRARY MODULE_LIBRARY OBJECT_LIBRARY)
        if(converter STREQUAL target OR NOT type IN_LIST compiled OR NOT DEFINED arg_MANIFEST)
            message(FATAL_ERROR "sndblok_add_sounds: EMBED needs MANIFEST, and TARGET an "
                                "executable or a library; ${target} is not one")
        endif()
        get_target_property(made_in ${target} SOURCE_DIR)
        if(NOT made_in STREQUAL CMAKE_CURRENT_SOURCE_DIR)
            message(FATAL_ERROR "sndblok_add_sounds: EMBED adds sources to ${target}, which only "
                                "the folder that makes it can: call it in ${made_in}")
        endif()
    endif()
    set(call "${state}/${converter}")
    string(MD5 token "${CMAKE_BINARY_DIR}")
    string(SUBSTRING "${token}" 0 8 token)
    _sndblok_start("${state}" ${token})

    get_property(steps GLOBAL PROPERTY _sndblok_steps)
    get_property(convert GLOBAL PROPERTY _sndblok_convert)
    if(arg_ORIGINALS OR arg_MONO_ORIGINALS)
        find_program(SNDBLOK_SOX sox)
        if(NOT SNDBLOK_SOX)
            message(FATAL_ERROR "sndblok_add_sounds: no sox, which prepares the ORIGINALS and "
                                "MONO_ORIGINALS: ${arg_ORIGINALS} ${arg_MONO_ORIGINALS}; install "
                                "it, or set SNDBLOK_SOX to the program")
        endif()
    endif()

    set(stage "${call}/stage")
    # Where no POSIX shell runs the steps, CMake runs each; the tests ask for
    # that with SNDBLOK_PORTABLE_STEPS.
    set(portable FALSE)
    if(CMAKE_HOST_WIN32 OR SNDBLOK_PORTABLE_STEPS)
        set(portable TRUE)
    endif()
    set(one_system FALSE)
    if(NOT portable)
        # Whether a file moves from the build's own folder into DESTINATION
        # by a rename, on one file system: then sndblok writes a sound's
        # files beside its link to the input, and one mv moves them; else it
        # writes them in DESTINATION under names of their own, each renamed
        # there.
        file(MAKE_DIRECTORY "${stage}" "${folder}")
        file(WRITE "${stage}/.probe" "")
        file(CREATE_LINK "${stage}/.probe" "${folder}/.sndblok-${token}" RESULT linked)
        file(REMOVE "${stage}/.probe" "${folder}/.sndblok-${token}")
        if(linked EQUAL 0)
            set(one_system TRUE)
        endif()
    endif()

    # Unix Makefiles starts a cmake process for each comment it shows: with
    # one a conversion, that would take longer than the conversion itself.
    set(quiet FALSE)
    if(CMAKE_GENERATOR MATCHES "Makefiles")
        set(quiet TRUE)
    endif()

    set(sounds "")   # name, channels, ...
    set(all "")
    foreach(kind SOURCES MONO STEREO ORIGINALS MONO_ORIGINALS)
        foreach(source IN LISTS arg_${kind})
            _sndblok_slashes("${source}" source)
            # A file the build makes is found as CMake finds a made source:
            # in the build folder, unless it is in the source folder.
            set(base "${CMAKE_CURRENT_SOURCE_DIR}")
            if((kind STREQUAL "MONO" OR kind STREQUAL "STEREO") AND NOT IS_ABSOLUTE "${source}" AND
               NOT EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${source}")
                set(base "${CMAKE_CURRENT_BINARY_DIR}")
            endif()
            get_filename_component(source "${source}" ABSOLUTE BASE_DIR "${base}")
            _sndblok_check_path("${source}" "${source}")
            get_filename_component(name "${source}" NAME)
            if(kind MATCHES "ORIGINALS")
                get_filename_component(stem "${source}" NAME_WLE)
            elseif(name MATCHES "^(.*)\\.wav$")
                set(stem "${CMAKE_MATCH_1}")
            else()
                message(FATAL_ERROR "sndblok_add_sounds: ${source} does not end in .wav")
            endif()
            if(kind STREQUAL "SOURCES" OR kind MATCHES "ORIGINALS")
                # A FIFO or a device would be waited on; an empty file holds no sound.
                set(size 0)
                if(EXISTS "${source}" AND NOT IS_DIRECTORY "${source}")
                    file(SIZE "${source}" size)
                endif()
                if(size EQUAL 0)
                    message(FATAL_ERROR "sndblok_add_sounds: ${source} is not there, empty, or "
                                        "not a file; a file that the build makes goes under MONO "
                                        "or STEREO")
                endif()
                set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${source}")
            endif()
            set(input "${source}")
            if(kind STREQUAL "SOURCES")
                _sndblok_wave_channels("${source}" channels)
            elseif(kind STREQUAL "MONO" OR kind STREQUAL "MONO_ORIGINALS")
                set(channels 1)
            elseif(kind STREQUAL "STEREO")
                set(channels 2)
            else()
                _sndblok_original_channels("${source}" channels)
                if(NOT channels EQUAL 1 AND NOT channels EQUAL 2)
                    message(FATAL_ERROR "sndblok_add_sounds: ${source} has ${channels} channels; "
                                        "list it under MONO_ORIGINALS to mix it down to mono")
                endif()
            endif()
            file(RELATIVE_PATH shown "${CMAKE_BINARY_DIR}" "${source}")
            set(sox_said "sox ${shown}")
            set(said "sndblok ${shown}")
            if(quiet)
                set(sox_said "")
                set(said "")
            endif()
            if(kind MATCHES "ORIGINALS")
                set(input "${call}/prepared/${stem}.wav")
                set(mix 0)
                if(kind STREQUAL "MONO_ORIGINALS")
                    set(mix 1)
                endif()
                add_custom_command(OUTPUT "${input}"
                    COMMAND "${CMAKE_COMMAND}" -DSTEP=prepare "-DSOX=${SNDBLOK_SOX}"
                            "-DORIGINAL=${source}" "-DPREPARED=${input}" -DCHANNELS=${mix}
                            -P "${steps}"
                    DEPENDS "${source}" "${steps}"
                    COMMENT "${sox_said}"
                    VERBATIM)
            endif()

            # One sound of a name in a folder: its block files, its C name
            # and the build's own files are named by it.
            _sndblok_claim("${folder}/${stem}" "${source}"
                           "are both the sound ${stem} in ${folder}")
            _sndblok_outputs("${folder}" "${stem}" ${channels} outputs)
            foreach(output IN LISTS outputs)
                _sndblok_claim("${output}" "${source}" "both make ${output}")
            endforeach()

            set(program "$<TARGET_FILE:sndblok::sndblok>")
            set(script "${convert}")
            if(portable)
                set(script "${steps}")
                set(command "${CMAKE_COMMAND}" -DSTEP=convert "-DSNDBLOK=${program}"
                            "-DSOURCE=${input}" "-DSTAGE=${stage}" "-DFOLDER=${folder}"
                            "-DSTEM=${stem}" -DCHANNELS=${channels} -DTOKEN=${token} -P "${steps}")
            else()
                # sndblok runs beside a link to the input and writes each
                # output there, or through a link there into DESTINATION
                # under a temporary name; then the files are renamed into
                # place, the first output last: Unix Makefiles remakes a
                # command's outputs only by its first (and touches the
                # others), so it must be the old one of a pair stopped
                # halfway. When that fails, sndblok-convert.sh does it all
                # again, carefully, and says what failed; it alone converts
                # the files the build makes, whose channels it checks.
                set(link "${stage}/${stem}.wav")
                file(CREATE_LINK "${input}" "${link}" SYMBOLIC)
                set(pairs "")
                set(moves "")
                set(staged "")
                set(reversed ${outputs})
                list(REVERSE reversed)
                foreach(output IN LISTS reversed)
                    get_filename_component(file "${output}" NAME)
                    set(new "${stage}/${file}")
                    if(one_system)
                        if(IS_SYMLINK "${new}")
                            file(REMOVE "${new}")
                        endif()
                        list(APPEND staged "${new}")
                    else()
                        _sndblok_temporary("${folder}" "${file}" ${token} new)
                        file(CREATE_LINK "${new}" "${stage}/${file}" SYMBOLIC)
                        list(APPEND moves && mv -f "${new}" "${output}" 2> /dev/null)
                    endif()
                    list(APPEND pairs "${new}" "${output}")
                endforeach()
                list(LENGTH staged moved)
                if(moved EQUAL 2)
                    set(moves && mv -f ${staged} "${folder}" 2> /dev/null)
                elseif(moved EQUAL 1)
                    set(moves && mv -f "${staged}" "${outputs}" 2> /dev/null)
                endif()
                set(command sh "${convert}" "${program}" "${input}" "${link}" ${channels} ${pairs})
                if(NOT kind MATCHES "^(MONO|STEREO)$")
                    set(command test -f "${input}" && "${program}" "${link}" > "${call}/${stem}.log"
                                2>&1 ${moves} || ${command})
                endif()
            endif()
            add_custom_command(OUTPUT ${outputs}
                COMMAND ${command}
                DEPENDS "${input}" "${program}" ${script}
                COMMENT "${said}"
                VERBATIM)
            list(APPEND sounds "${stem}" ${channels})
            list(APPEND all ${outputs})
        endforeach()
    endforeach()

    # What this call claims, for the build's removal of what none claims.
    set(claims "")
    foreach(output IN LISTS all)
        string(APPEND claims "${output}\n")
    endforeach()
    file(WRITE "${call}/claims" "${claims}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${call}/claims")

    # The sounds by name, so that their order stays when one changes.
    _sndblok_sorted("${sounds}" sounds)
    set(ordered "")
    list(LENGTH sounds length)
    set(at 0)
    while(at LESS length)
        list(GET sounds ${at} stem)
        math(EXPR next "${at} + 1")
        list(GET sounds ${next} channels)
        _sndblok_outputs("${folder}" "${stem}" ${channels} outputs)
        list(APPEND ordered ${outputs})
        math(EXPR at "${at} + 2")
    endwhile()

    set(made ${all})
    if(DEFINED arg_MANIFEST)
        _sndblok_slashes("${arg_MANIFEST}" header)
        get_filename_component(header "${header}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
        _sndblok_check_path("MANIFEST ${header}" "${header}")
        _sndblok_names("${header}" "${arg_EMBED}" "${sounds}" prefix)
        set(embed 0)
        if(arg_EMBED)
            set(embed 1)
        endif()
        # Rewritten only when it changes. Ninja then knows that nothing
        # changed; Unix Makefiles runs the step again whenever a block file
        # is newer, until it changes.
        add_custom_command(OUTPUT "${header}"
            COMMAND "${CMAKE_COMMAND}" -DSTEP=manifest "-DHEADER=${header}" "-DFOLDER=${folder}"
                    "-DTITLE=${target}" -DEMBED=${embed} -P "${steps}" -- ${sounds}
            DEPENDS ${all} "${call}/claims" "${steps}"
            VERBATIM)
        list(APPEND made "${header}")
        get_filename_component(header_folder "${header}" DIRECTORY)
        if(NOT converter STREQUAL target AND NOT type STREQUAL "UTILITY")
            target_include_directories(${target} PRIVATE "${header_folder}")
        endif()
    endif()
    if(arg_EMBED)
        # Each block file as an array, named as the manifest declares it, in
        # a source rewritten only when its bytes change, which a stamp says
        # is up to date: so is neither made nor compiled again for nothing.
        get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
        set(extension c)
        if(NOT "C" IN_LIST languages)
            set(extension cpp)
        endif()
        list(LENGTH sounds length)
        set(at 0)
        while(at LESS length)
            list(GET sounds ${at} stem)
            math(EXPR next "${at} + 1")
            list(GET sounds ${next} channels)
            _sndblok_identifier("${stem}" id)
            _sndblok_outputs("${folder}" "${stem}" ${channels} files)
            set(symbols ${prefix}_${id}_MONO)
            if(channels EQUAL 2)
                set(symbols ${prefix}_${id}_LEFT ${prefix}_${id}_RIGHT)
            endif()
            foreach(output IN LISTS files)
                list(FIND files "${output}" which)
                list(GET symbols ${which} symbol)
                # Named by a hash, which any name's length allows.
                get_filename_component(file "${output}" NAME)
                string(MD5 hash "${file}")
                string(SUBSTRING "${hash}" 0 16 hash)
                set(source "${call}/embed/${hash}.${extension}")
                add_custom_command(OUTPUT "${call}/embed/${hash}.stamp"
                    BYPRODUCTS "${source}"
                    COMMAND "${CMAKE_COMMAND}" -DSTEP=embed "-DBLOCKS=${output}"
                            "-DSOURCE=${source}" -DSYMBOL=${symbol}
                            "-DSTAMP=${call}/embed/${hash}.stamp" -P "${steps}"
                    DEPENDS "${output}" "${steps}"
                    VERBATIM)
                list(APPEND made "${call}/embed/${hash}.stamp")
                target_sources(${target} PRIVATE "${source}")
            endforeach()
            math(EXPR at "${at} + 2")
        endwhile()
    endif()

    if(converter STREQUAL target)
        add_custom_target(${converter} ALL DEPENDS ${made})
    else()
        add_custom_target(${converter} DEPENDS ${made})
        add_dependencies(${target} ${converter})
    endif()
    add_dependencies(${converter} sndblok_prune)
    if(DEFINED arg_OUT_VAR)
        set(${arg_OUT_VAR} ${ordered} PARENT_SCOPE)
    endif()
endfunction()
