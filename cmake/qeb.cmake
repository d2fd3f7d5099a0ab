# Helpers shared by every folder's CMakeLists.

# qeb_unit_test(name SOURCES ... LIBS ...): a GoogleTest binary run under Wine
# through CMAKE_CROSSCOMPILING_EMULATOR (cmake/wine-run.sh), one CTest test per
# TEST().
function(qeb_unit_test name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 120 LABELS unit)
endfunction()
