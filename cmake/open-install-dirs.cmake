cmake_policy(VERSION 3.25)
# Run first and last when installing. First it notes the folders that the
# installation is to make, DESTDIR's own included; last it opens them to
# 0755, whatever the installer's umask (mkdir applies it to CMake's own
# default), and adds them to install_dirs.txt beside install_manifest.txt,
# so that uninstall.cmake removes them again, after however many installs.
# `sndblok_install_dirs` lists where files go, relative to the prefix.
if(NOT DEFINED sndblok_made_dirs)
    set(sndblok_made_dirs "")
    foreach(dir IN LISTS sndblok_install_dirs)
        set(dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${dir}")
        while(NOT EXISTS "${dir}" AND NOT dir IN_LIST sndblok_made_dirs)
            list(APPEND sndblok_made_dirs "${dir}")
            get_filename_component(dir "${dir}" DIRECTORY)
        endwhile()
    endforeach()
else()
    foreach(dir IN LISTS sndblok_made_dirs)
        file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
             GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
    set(list "${sndblok_build_dir}/install_dirs.txt")
    if(EXISTS "${list}")
        file(STRINGS "${list}" earlier)
        list(APPEND sndblok_made_dirs ${earlier})
        list(REMOVE_DUPLICATES sndblok_made_dirs)
    endif()
    list(JOIN sndblok_made_dirs "\n" made)
    file(WRITE "${list}" "${made}\n")
endif()
