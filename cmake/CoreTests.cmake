# The tests of the Qt-free units, for a build without Qt (the Windows cross build, where they
# run under CMAKE_CROSSCOMPILING_EMULATOR). GoogleTest comes from the system or, when it has no
# build for the target, from its sources (Debian: /usr/src/googletest).
find_package(GTest QUIET)
if(NOT TARGET GTest::gtest_main)
  set(TARVEL_GTEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest's sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TARVEL_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()

# tarvel_test(<name> SOURCES <files...> LIBS <libs...>), as in tests/CMakeLists.txt but without
# Qt: GoogleTest's own main, one ctest entry per program.
function(tarvel_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock ${T_LIBS})
  if(WIN32)
    # One self-contained program: no MinGW run-time DLLs to find under the emulator.
    target_link_options(${name} PRIVATE -static)
  endif()
  add_test(NAME ${name} COMMAND ${name})
endfunction()

# The folders whose tests need no Qt.
foreach(d protocol win32)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/${d}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tests/${d} ${CMAKE_BINARY_DIR}/tests/${d})
  endif()
endforeach()
