# The steps of a build that converts sounds, shared by the CMake package and
# by sndblok.mk, and the rules they share: how a sound's block files and its
# C names are named. Included, it only defines those rules; run as
# `cmake -DSTEP=<step> ... -P sndblokSteps.cmake [-- <argument>...]` it does
# one step:
#
#   prepare   ORIGINAL, PREPARED, CHANNELS (1: mixed down to mono; 0: as
#             it is), SOX: a recording as a 32 kHz mu-law WAVE file
#   manifest  HEADER, FOLDER, TITLE, EMBED (0 or 1), then, after --, a name
#             and a channel count for each sound: the C header that lists
#             the sounds, rewritten only when it changes
#   embed     BLOCKS, SOURCE, SYMBOL, STAMP: a block file's bytes as a C
#             array, rewritten only when they change; STAMP is touched
#   prune     STATE, TOKEN: removes the block files that a CMake build's
#             calls made and none claims now
#   convert   SNDBLOK, SOURCE, STAGE, FOLDER, STEM, CHANNELS, TOKEN: one
#             source converted, where no POSIX shell runs sndblok-convert.sh
#
# Every file a step makes is written under a name of its own first and then
# renamed into place, so that a step stopped at any moment leaves the old
# file or the whole new one, never a part. A step that fails says what
# failed, naming the file, and the build fails.

# The block files of the sound `stem` in `folder`: one for mono, a left and
# a right one for stereo.
function(_sndblok_outputs folder stem channels result)
    if(channels EQUAL 2)
        set(${result} "${folder}/${stem}_l.vsf" "${folder}/${stem}_r.vsf" PARENT_SCOPE)
    else()
        set(${result} "${folder}/${stem}.vsf" PARENT_SCOPE)
    endif()
endfunction()

# The functions below keep these policies wherever they are called; in the
# project that includes this file they change nothing (include() keeps
# them apart).
cmake_policy(VERSION 3.16)

# Where the block file `name` is written in `folder` before it is renamed
# into place, when it cannot be written elsewhere and moved there: a hidden
# name of its own, of a fixed length, whatever the length of `name`, and
# apart for each build folder (`token`).
function(_sndblok_temporary folder name token result)
    string(MD5 hash "${token}/${name}")
    string(SUBSTRING "${hash}" 0 16 hash)
    set(${result} "${folder}/.sndblok-${hash}" PARENT_SCOPE)
endfunction()

# Every byte from 128 on, in order: a byte's place in it tells its value.
# Kept where functions called from any folder find it.
set(_sndblok_high_bytes "")
foreach(code RANGE 128 255)
    string(ASCII ${code} byte)
    string(APPEND _sndblok_high_bytes "${byte}")
endforeach()
set_property(GLOBAL PROPERTY _sndblok_high_bytes "${_sndblok_high_bytes}")

# The C name of a sound, the same for any bytes: ASCII letters upper-cased,
# digits kept, each byte outside ASCII as two lower-case hex digits, any
# other byte as _.
function(_sndblok_identifier name result)
    get_property(high_bytes GLOBAL PROPERTY _sndblok_high_bytes)
    string(TOUPPER "${name}" name)
    string(LENGTH "${name}" length)
    set(identifier "")
    set(at 0)
    while(at LESS length)
        string(SUBSTRING "${name}" ${at} 1 byte)
        string(FIND "${high_bytes}" "${byte}" high)
        if(byte MATCHES "^[A-Z0-9]$")
            string(APPEND identifier "${byte}")
        elseif(high EQUAL -1)
            string(APPEND identifier "_")
        else()
            math(EXPR code "${high} + 128" OUTPUT_FORMAT HEXADECIMAL)
            string(SUBSTRING "${code}" 2 2 code)
            string(TOLOWER "${code}" code)
            string(APPEND identifier "${code}")
        endif()
        math(EXPR at "${at} + 1")
    endwhile()
    set(${result} "${identifier}" PARENT_SCOPE)
endfunction()

# `sounds` (name, channels, ...) in the order of their names, byte for byte.
function(_sndblok_sorted sounds result)
    set(names "")
    list(LENGTH sounds length)
    set(at 0)
    while(at LESS length)
        list(GET sounds ${at} name)
        math(EXPR next "${at} + 1")
        list(GET sounds ${next} channels)
        string(MD5 key "${name}")
        set(channels_${key} ${channels})
        list(APPEND names "${name}")
        math(EXPR at "${at} + 2")
    endwhile()
    list(SORT names)
    set(sorted "")
    foreach(name IN LISTS names)
        string(MD5 key "${name}")
        list(APPEND sorted "${name}" ${channels_${key}})
    endforeach()
    set(${result} "${sorted}" PARENT_SCOPE)
endfunction()

# What C and C++ take for their own: no manifest's names may be these.
set(_sndblok_keywords alignas alignof and and_eq asm auto bitand bitor bool break case catch
    char char8_t char16_t char32_t class co_await co_return co_yield compl concept const
    consteval constexpr constinit const_cast continue decltype default delete do double
    dynamic_cast else enum explicit export extern false float for friend goto if inline int
    long main mutable namespace new noexcept not not_eq nullptr operator or or_eq private
    protected public register reinterpret_cast requires restrict return short signed sizeof
    static static_assert static_cast struct switch template this thread_local throw true try
    typedef typeid typename union unsigned using virtual void volatile wchar_t while xor xor_eq)
set_property(GLOBAL PROPERTY _sndblok_keywords "${_sndblok_keywords}")

# The names a manifest at `header` declares: the prefix of all of them (its
# file name less the extension; in lower case, its table, types and enum),
# and, for `sounds` (name, channels, ...), each sound's constant and,
# embedded, the array of each block file. Fails naming a header whose names
# C cannot take, and two sounds that would share one, or a sound whose name
# is taken.
function(_sndblok_names header embed sounds prefix_var)
    get_filename_component(file "${header}" NAME)
    get_filename_component(stem "${header}" NAME_WE)
    _sndblok_identifier("${stem}" prefix)
    string(TOLOWER "${prefix}" lower)
    get_property(keywords GLOBAL PROPERTY _sndblok_keywords)
    if(NOT lower MATCHES "^[a-z][a-z0-9]*(_[a-z0-9]+)*$" OR lower IN_LIST keywords)
        message(FATAL_ERROR " sndblok: the manifest ${file} would name its table ${lower}, "
                            "which C does not take: name it otherwise")
    endif()
    set(taken COUNT LONGEST MOST_BLOCKS MOST_BYTES)
    set(owners "the manifest's own" "the manifest's own" "the manifest's own" "the manifest's own")
    list(LENGTH sounds length)
    set(at 0)
    while(at LESS length)
        list(GET sounds ${at} name)
        math(EXPR next "${at} + 1")
        list(GET sounds ${next} channels)
        _sndblok_identifier("${name}" id)
        set(names ${id})
        if(embed AND channels EQUAL 2)
            list(APPEND names ${id}_LEFT ${id}_RIGHT)
        elseif(embed)
            list(APPEND names ${id}_MONO)
        endif()
        foreach(one IN LISTS names)
            list(FIND taken "${one}" other)
            if(NOT other EQUAL -1)
                list(GET owners ${other} owner)
                message(FATAL_ERROR " sndblok: the sounds \"${owner}\" and \"${name}\" would both "
                                    "be named ${prefix}_${one} in ${file}; rename one")
            endif()
            list(APPEND taken "${one}")
            list(APPEND owners "${name}")
        endforeach()
        math(EXPR at "${at} + 2")
    endwhile()
    set(${prefix_var} "${prefix}" PARENT_SCOPE)
endfunction()

# Writes `content` into `file`, through a name of its own and a rename, and
# only when it differs from what the file holds.
function(_sndblok_write file content)
    if(EXISTS "${file}")
        file(READ "${file}" old)
        if(old STREQUAL content)
            return()
        endif()
    endif()
    get_filename_component(folder "${file}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    file(WRITE "${file}.new" "${content}")
    file(RENAME "${file}.new" "${file}")
endfunction()

# `text` as a C string literal: bytes outside printable ASCII, and ? (which
# could start a trigraph), escaped.
function(_sndblok_c_string text result)
    get_property(high_bytes GLOBAL PROPERTY _sndblok_high_bytes)
    string(REGEX REPLACE "([\\\\\"?])" "\\\\\\1" text "${text}")
    if(NOT text MATCHES "[${high_bytes}]")
        set(${result} "\"${text}\"" PARENT_SCOPE)
        return()
    endif()
    foreach(code RANGE 128 255)
        string(ASCII ${code} byte)
        if(text MATCHES "${byte}")
            math(EXPR a "${code} / 64")
            math(EXPR b "${code} / 8 % 8")
            math(EXPR c "${code} % 8")
            string(REPLACE "${byte}" "\\${a}${b}${c}" text "${text}")
        endif()
    endforeach()
    set(${result} "\"${text}\"" PARENT_SCOPE)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
    return()
endif()

# The arguments after --.
set(arguments "")
set(taking FALSE)
math(EXPR last "${CMAKE_ARGC} - 1")
foreach(at RANGE ${last})
    if(taking)
        list(APPEND arguments "${CMAKE_ARGV${at}}")
    elseif(CMAKE_ARGV${at} STREQUAL "--")
        set(taking TRUE)
    endif()
endforeach()

if(STEP STREQUAL "prepare")
    # No dither: it is random, so every build would differ, and mu-law's own
    # steps are coarser than it. -V1 leaves only what failed to be said.
    set(channels "")
    if(CHANNELS EQUAL 1)
        set(channels -c 1)
    endif()
    get_filename_component(folder "${PREPARED}" DIRECTORY)
    file(MAKE_DIRECTORY "${folder}")
    execute_process(COMMAND "${SOX}" -D -V1 --no-glob "${ORIGINAL}"
                            -t wav -r 32000 -e u-law -b 8 ${channels} --no-glob "${PREPARED}.new"
                    RESULT_VARIABLE status ERROR_VARIABLE said OUTPUT_VARIABLE said)
    if(NOT status EQUAL 0)
        file(REMOVE "${PREPARED}.new")
        string(STRIP "${said}" said)
        message(FATAL_ERROR " sndblok cannot prepare ${ORIGINAL}:\n ${said}")
    endif()
    file(RENAME "${PREPARED}.new" "${PREPARED}")

elseif(STEP STREQUAL "manifest")
    _sndblok_sorted("${arguments}" arguments)
    _sndblok_names("${HEADER}" "${EMBED}" "${arguments}" prefix)
    string(TOLOWER "${prefix}" lower)
    list(LENGTH arguments length)
    math(EXPR count "${length} / 2")
    set(ids "")
    set(table "")
    set(data "")
    set(most_blocks 0)
    set(most_bytes 0)
    set(longest "")
    # One block file: its name, bytes and blocks, and its array when embedded.
    macro(describe path symbol)
        get_filename_component(name "${path}" NAME)
        file(SIZE "${path}" bytes)
        file(READ "${path}" head LIMIT 4 HEX)
        if(NOT head MATCHES "^[0-9a-f]+$")
            set(head 0)
        endif()
        math(EXPR blocks "0x${head}")
        _sndblok_c_string("${name}" quoted)
        set(address 0)
        if(EMBED)
            set(address ${prefix}_${symbol})
            string(APPEND data "extern const unsigned char ${address}[];\n")
        endif()
        set(file_entry "{${quoted}, ${bytes}ul, ${blocks}ul, ${address}}")
        if(blocks GREATER most_blocks OR longest STREQUAL "")
            set(longest ${prefix}_${id})
        endif()
        if(blocks GREATER most_blocks)
            set(most_blocks ${blocks})
        endif()
        if(bytes GREATER most_bytes)
            set(most_bytes ${bytes})
        endif()
    endmacro()
    set(at 0)
    set(number 0)
    while(at LESS length)
        list(GET arguments ${at} name)
        math(EXPR next "${at} + 1")
        list(GET arguments ${next} channels)
        _sndblok_identifier("${name}" id)
        _sndblok_outputs("${FOLDER}" "${name}" ${channels} files)
        _sndblok_c_string("${name}" quoted_name)
        string(APPEND ids "    ${prefix}_${id} = ${number},\n")
        if(channels EQUAL 2)
            list(GET files 0 left)
            list(GET files 1 right)
            describe("${left}" ${id}_LEFT)
            set(left_entry "${file_entry}")
            describe("${right}" ${id}_RIGHT)
            string(APPEND table "    {${quoted_name}, 1, ${left_entry},\n     ${file_entry}},\n")
        else()
            describe("${files}" ${id}_MONO)
            string(APPEND table "    {${quoted_name}, 0, ${file_entry}, {0, 0ul, 0ul, 0}},\n")
        endif()
        math(EXPR at "${at} + 2")
        math(EXPR number "${number} + 1")
    endwhile()
    get_filename_component(file "${HEADER}" NAME)
    # Lower-case letters beyond f: no sound's name.
    set(guard "${prefix}_manifest")
    set(text "/* ${file}: the sounds of ${TITLE}, by name. Each block file is a whole
   number of 512-byte blocks, 16 ms of sound each at 32 kHz; its first four
   bytes are the blocks it claims, most significant byte first. Made by the
   build: do not edit. */
#ifndef ${guard}
#define ${guard}

/* One block file: its name, its length in bytes, the blocks it claims and,
   where the build embeds it, its bytes. */
struct ${lower}_file {
    const char *name;
    unsigned long bytes;
    unsigned long blocks;
    const unsigned char *data;
};

/* One sound: its name, whether it is a left and right pair, and its block
   file, or its left and its right one (a mono sound's right is all 0). */
struct ${lower}_sound {
    const char *name;
    int stereo;
    struct ${lower}_file left;
    struct ${lower}_file right;
};

enum ${lower}_id {
${ids}    ${prefix}_COUNT = ${count}
};
")
    if(count GREATER 0)
        string(APPEND text "
/* The sound with the most blocks; the most blocks and bytes of one file. */
#define ${prefix}_LONGEST ${longest}
#define ${prefix}_MOST_BLOCKS ${most_blocks}ul
#define ${prefix}_MOST_BYTES ${most_bytes}ul
")
        if(data)
            string(APPEND text "
#ifdef __cplusplus
extern \"C\" {
#endif
${data}#ifdef __cplusplus
}
#endif
")
        endif()
        string(APPEND text "
static const struct ${lower}_sound ${lower}[${prefix}_COUNT] = {
${table}};
")
    endif()
    string(APPEND text "
#endif
")
    _sndblok_write("${HEADER}" "${text}")

elseif(STEP STREQUAL "embed")
    file(READ "${BLOCKS}" hex HEX)
    string(LENGTH "${hex}" length)
    math(EXPR bytes "${length} / 2")
    # Sixteen bytes a line.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
    string(REPEAT "0x..," 16 line)
    string(REGEX REPLACE "(${line})" "\\1\n" hex "${hex}")
    get_filename_component(name "${BLOCKS}" NAME)
    set(definition "const unsigned char ${SYMBOL}[${bytes}]")
    if(SOURCE MATCHES "\\.cpp$")
        set(definition "extern \"C\" ${definition}")
    endif()
    if(bytes EQUAL 0)
        set(hex "0")
        set(definition "${definition}[1]")
    endif()
    _sndblok_write("${SOURCE}" "/* The bytes of ${name}. Made by the build: do not edit. */
${definition} = {
${hex}
};
")
    file(TOUCH "${STAMP}")

elseif(STEP STREQUAL "prune")
    # What the calls claimed when last pruned, or before a configuration
    # took them out (kept), less what they claim now, goes; with it what an
    # interrupted conversion left under a temporary name, and the folders of
    # calls that are gone.
    set(kept "")
    if(EXISTS "${STATE}/kept")
        file(READ "${STATE}/kept" kept)
    endif()
    file(GLOB claim_files LIST_DIRECTORIES false "${STATE}/*/claims")
    set(claimed "")
    foreach(claims IN LISTS claim_files)
        file(READ "${claims}" text)
        string(APPEND claimed "${text}")
    endforeach()
    set(now "${claimed}")
    string(REPLACE "\n" ";" claimed "${claimed}")
    string(REPLACE "\n" ";" kept "${kept}")
    foreach(output IN LISTS kept)
        list(FIND claimed "${output}" at)
        if(at EQUAL -1 AND NOT output STREQUAL "")
            get_filename_component(folder "${output}" DIRECTORY)
            get_filename_component(name "${output}" NAME)
            _sndblok_temporary("${folder}" "${name}" ${TOKEN} temporary)
            file(REMOVE "${output}" "${temporary}")
        endif()
    endforeach()
    file(GLOB calls LIST_DIRECTORIES true "${STATE}/*")
    foreach(call IN LISTS calls)
        if(IS_DIRECTORY "${call}" AND NOT EXISTS "${call}/claims")
            file(REMOVE_RECURSE "${call}")
        endif()
    endforeach()
    _sndblok_write("${STATE}/kept" "${now}")
    file(TOUCH "${STATE}/pruned")

elseif(STEP STREQUAL "convert")
    # Converted beside a copy of the source (a link where the system makes
    # one), so that the block files land in STAGE; then each is copied into
    # FOLDER under a temporary name and renamed into place, the first last
    # (see sndblok-convert.sh).
    _sndblok_outputs("${STAGE}" "${STEM}" ${CHANNELS} made)
    set(link "${STAGE}/${STEM}.wav")
    if(IS_DIRECTORY "${SOURCE}" OR NOT EXISTS "${SOURCE}")
        message(FATAL_ERROR " sndblok: ${SOURCE} is not a file")
    endif()
    file(MAKE_DIRECTORY "${STAGE}" "${FOLDER}")
    file(REMOVE "${link}")
    file(CREATE_LINK "${SOURCE}" "${link}" SYMBOLIC COPY_ON_ERROR)
    get_filename_component(name "${link}" NAME)
    execute_process(COMMAND "${SNDBLOK}" "${name}" WORKING_DIRECTORY "${STAGE}"
                    RESULT_VARIABLE status OUTPUT_VARIABLE printed ERROR_VARIABLE printed)
    if(NOT status EQUAL 0)
        # The usage banner says nothing a build log needs.
        string(REGEX REPLACE "\n=+\nUSAGE:.*" "" printed "${printed}")
        string(STRIP "${printed}" printed)
        string(REGEX REPLACE "\n+" "\n " printed "${printed}")
        message(FATAL_ERROR " sndblok cannot convert ${SOURCE}:\n ${printed}")
    endif()
    set(found 1)
    if(printed MATCHES "Channels: STEREO")
        set(found 2)
    endif()
    if(NOT found EQUAL CHANNELS)
        set(kinds x MONO STEREO)
        list(GET kinds ${found} is)
        list(GET kinds ${CHANNELS} said)
        message(FATAL_ERROR " sndblok: ${SOURCE} is ${is}, but the build has it as ${said}")
    endif()
    list(REVERSE made)
    foreach(file IN LISTS made)
        get_filename_component(output "${file}" NAME)
        # A folder of a temporary name, as file(COPY) keeps the file's name.
        _sndblok_temporary("${FOLDER}" "${output}" ${TOKEN} temporary)
        file(REMOVE_RECURSE "${temporary}")
        file(COPY "${file}" DESTINATION "${temporary}")
        file(RENAME "${temporary}/${output}" "${FOLDER}/${output}")
        file(REMOVE_RECURSE "${temporary}" "${file}")
    endforeach()

else()
    message(FATAL_ERROR "sndblokSteps.cmake: no step ${STEP}")
endif()
