# Helpers shared by every folder's CMakeLists.

# Windows Installer's name of the target architecture (package file names).
if(QEB_ARCH STREQUAL "x86_64")
  set(QEB_MSI_ARCH x64)
else()
  set(QEB_MSI_ARCH x86)
endif()

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
    # Tests of one binary share its global state in the one unit prefix
    # (registry values, files): they run one at a time; binaries in parallel.
    PROPERTIES TIMEOUT 120 LABELS unit RESOURCE_LOCK ${name})
endfunction()

# qeb_system_test(name SOURCES ... LIBS ... [XVFB] [TIMEOUT s]): a GoogleTest
# binary run by scripts/run-system-test.sh inside a fresh prefix with the
# simulated platform started and the programs of bin/ installed (see that
# script). One CTest test for the whole binary, label `system`.
function(qeb_system_test name)
  cmake_parse_arguments(A "XVFB" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 600)
  endif()
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gmock GTest::gtest)
  set(_xvfb "")
  if(A_XVFB)
    set(_xvfb "--xvfb")
  endif()
  add_test(NAME system.${name}
    COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/run-system-test.sh ${_xvfb} $<TARGET_FILE:${name}>)
  set_tests_properties(system.${name} PROPERTIES TIMEOUT ${A_TIMEOUT} LABELS system RUN_SERIAL TRUE)
endfunction()

# Debian's package suffix for this architecture's mingw-w64 binutils.
if(QEB_ARCH STREQUAL "x86_64")
  set(QEB_DEBIAN_ARCH x86-64)
else()
  set(QEB_DEBIAN_ARCH i686)
endif()

# qeb_ship_program(target): a program that ships. After linking, its debug
# information moves to <program>.debug beside it (for gdb, which finds it
# through the debug link) and the program itself is stripped: what the
# package carries has no symbols and no debug sections.
function(qeb_ship_program target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}> $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Stripping ${target} (debug information in $<TARGET_FILE_NAME:${target}>.debug)"
    VERBATIM)
endfunction()

# qeb_windows_api(version): the Windows API version (_WIN32_WINNT, WINVER)
# that the folders added after it compile against.
macro(qeb_windows_api version)
  set_property(DIRECTORY PROPERTY COMPILE_DEFINITIONS UNICODE _UNICODE NOMINMAX
               _WIN32_WINNT=${version} WINVER=${version})
endmacro()

# The shipped programs are compiled and linked by the mingw-w64 drivers of
# the win32 thread model (cmake/win32-threads.sh swaps them in): the posix
# model's thread library, linked statically into any program that uses C++
# exceptions or thread_local, imports functions Windows XP lacks. GoogleTest
# and the tests need the posix model's std::mutex and std::thread, so the
# product's libraries are built twice from the same sources: NAME for the
# tests and NAME_ship for the programs.
set(QEB_PRODUCT_LIBRARIES qebevent_core qebafx tovrel_frame_core tovrel_panels_core tovrel_panels)

function(qeb_win32_threads target)
  set(_launcher ${QEB_CMAKE_DIR}/win32-threads.sh)
  set_target_properties(${target} PROPERTIES C_COMPILER_LAUNCHER ${_launcher} CXX_COMPILER_LAUNCHER ${_launcher}
                                             C_LINKER_LAUNCHER ${_launcher} CXX_LINKER_LAUNCHER ${_launcher})
endfunction()

# qeb_product_library(name SOURCES ... [INCLUDES dirs] [LIBS libs] [OPTIONS opts]):
# a static library of the product in both builds. LIBS and INCLUDES are
# public; a product library in LIBS is taken in the same build.
function(qeb_product_library name)
  cmake_parse_arguments(A "" "" "SOURCES;INCLUDES;LIBS;OPTIONS" ${ARGN})
  foreach(_suffix "" "_ship")
    add_library(${name}${_suffix} STATIC ${A_SOURCES})
    target_include_directories(${name}${_suffix} PUBLIC ${A_INCLUDES})
    target_compile_options(${name}${_suffix} PRIVATE ${A_OPTIONS})
    set(_libs "")
    foreach(_lib IN LISTS A_LIBS)
      if(_lib IN_LIST QEB_PRODUCT_LIBRARIES)
        list(APPEND _libs ${_lib}${_suffix})
      else()
        list(APPEND _libs ${_lib})
      endif()
    endforeach()
    target_link_libraries(${name}${_suffix} PUBLIC ${_libs})
  endforeach()
  qeb_win32_threads(${name}_ship)
endfunction()
