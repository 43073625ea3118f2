cmake_policy(VERSION 3.25)
# Run first and last when installing: the folders that the installation
# makes get 0755, whatever the installer's umask, which mkdir applies to
# CMake's own default. `sndblok_install_dirs` lists where files go,
# relative to the prefix.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
if(NOT DEFINED sndblok_made_dirs)
    set(sndblok_made_dirs "")
    foreach(dir IN LISTS sndblok_install_dirs)
        while(NOT EXISTS "${root}/${dir}" AND NOT "${root}/${dir}" IN_LIST sndblok_made_dirs)
            list(APPEND sndblok_made_dirs "${root}/${dir}")
            get_filename_component(dir "${dir}" DIRECTORY)
        endwhile()
    endforeach()
else()
    foreach(dir IN LISTS sndblok_made_dirs)
        file(CHMOD "${dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
             GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endforeach()
endif()
