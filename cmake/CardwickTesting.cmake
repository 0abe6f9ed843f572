# GoogleTest from Debian's source package, built with the project's own compiler.
if(BUILD_TESTING)
  set(CARDWICK_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${CARDWICK_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# A native unit test program; every test case becomes its own ctest entry.
function(cardwick_native_test name)
  # Builds without tests (the fuzz preset) skip test programs altogether.
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
endfunction()

# A Windows test program run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
# One ctest entry per program: each Wine start costs more than a test case.
# The Wine tests share one prefix, its COM ports and its display, so they run one at a time.
function(cardwick_win_test name)
  # Builds without tests (the fuzz preset) skip test programs altogether.
  if(NOT BUILD_TESTING)
    return()
  endif()
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${ARG_TIMEOUT}
    RUN_SERIAL TRUE
    LABELS "wine;${ARG_LABELS}"
    ENVIRONMENT "CARDWICK_READER_SIM=${CARDWICK_READER_SIM};CARDWICK_PORTS_DIR=${CMAKE_BINARY_DIR}/wine/ports")
endfunction()
