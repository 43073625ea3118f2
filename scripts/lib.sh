# What scripts/ and .ci/ share, sourced from the project's root: the
# version, and whether a Debian package is installed (not merely removed
# with its configuration kept).
version=$(sed -n 's/^project(sndblok VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
installed() { [ "$(dpkg-query -W -f '${Status}' "$1" 2> /dev/null)" = "install ok installed" ]; }
