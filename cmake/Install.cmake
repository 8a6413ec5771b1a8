# What `cmake --install` puts where (prefix /usr or /usr/local, or a package's staging tree):
#   bin/                  tarvel, tarvel-cli, the virtual handset, smaf2wav and smafcompose
#   lib/tarvel/           the synthesizer library, private to Tarvel (no development links)
#   share/applications/   the menu entry
#   share/icons/hicolor/  the application icon at the theme's sizes
#   share/doc/tarvel/     the README
#   share/man/man1/       the manual page of tarvel-cli (compressed, as Debian keeps them)
# Tests, benchmarks, fuzz targets and the icon generator are never installed.
set(TARVEL_PRIVATE_LIBDIR lib/tarvel)

install(TARGETS tarvel tarvel-cli tarvel-handset smaf2wav smafcompose RUNTIME DESTINATION bin)
install(TARGETS ma3smwemu_gsm LIBRARY DESTINATION ${TARVEL_PRIVATE_LIBDIR} NAMELINK_SKIP)

# The installed program looks for the library beside itself first (the build tree's layout),
# then through the dynamic linker's search, which takes this RUNPATH: relative to the program,
# so the tree works under any prefix and in a staging folder.
set_target_properties(tarvel PROPERTIES INSTALL_RPATH "$ORIGIN/../${TARVEL_PRIVATE_LIBDIR}")

install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarvel.desktop DESTINATION share/applications)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/tarvel-${size}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME tarvel.png)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/tarvel)

# gzip -n: no name or time stamp inside, so the package is the same from build to build.
set(TARVEL_MAN_PAGE ${CMAKE_BINARY_DIR}/tarvel-cli.1.gz)
add_custom_command(OUTPUT ${TARVEL_MAN_PAGE}
  COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${CMAKE_SOURCE_DIR}/packaging/tarvel-cli.1 ${TARVEL_MAN_PAGE}
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/tarvel-cli.1 VERBATIM)
add_custom_target(man_pages ALL DEPENDS ${TARVEL_MAN_PAGE})
install(FILES ${TARVEL_MAN_PAGE} DESTINATION share/man/man1)
