# The program's version, from project(), as a header for the code that shows it (the about box):
# <build>/generated/TarvelVersion.h. Only the files that include it are rebuilt when it changes.
configure_file(${CMAKE_CURRENT_LIST_DIR}/TarvelVersion.h.in ${CMAKE_BINARY_DIR}/generated/TarvelVersion.h @ONLY)
include_directories(${CMAKE_BINARY_DIR}/generated)
