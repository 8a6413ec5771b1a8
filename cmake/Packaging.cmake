# The Debian package: `cpack -G DEB` in the build folder makes tarvel_<version>_<arch>.deb from
# the install rules of cmake/Install.cmake, under /usr. Its Depends field is worked out by
# dpkg-shlibdeps (package dpkg-dev) from the libraries the programs and the synthesizer library
# link: the Qt 6 libraries, ALSA, the C and C++ run-time.
set(TARVEL_PACKAGE_MAINTAINER "Tarvel developers <dev@tarvel.local>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvel)
set(CPACK_PACKAGE_VENDOR "Tarvel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "file manager for a mobile handset on a serial link")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvel lists the folders of a mobile handset attached by a serial cable, downloads, uploads
and erases its files (each checked with a CRC-32), uploads ringtones as melodies, installs
Java MIDlet suites into the handset's application store and previews SMAF ringtones on the PC.
The package also holds the virtual handset (tarvel-handset), which serves a folder of the PC
as a handset over a pseudo-terminal, and the SMAF tools smaf2wav and smafcompose.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARVEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# tarvel-cli mount (and the window's phone folder) mount with fusermount3, which is in fuse3;
# libfuse3 itself is found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fuse3")
# The program loads the synthesizer library at run time (dlopen) rather than linking it, so no
# file of the package names lib/tarvel in its needs and dpkg-shlibdeps need not search it; the
# library's own needs (ALSA) are found like those of the programs.

include(CPack)
