# Cross toolchain for Windows PE targets built with mingw-w64.
# QEB_ARCH selects the target: i686 (the shipped 32-bit programs) or x86_64
# (the same sources built for machines whose kernel cannot run 32-bit code,
# see README "Machines without 32-bit support").
if(NOT QEB_ARCH)
  set(QEB_ARCH i686)
endif()
set(QEB_ARCH "${QEB_ARCH}" CACHE STRING "mingw-w64 target: i686 or x86_64")
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QEB_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QEB_ARCH})
set(_triple ${QEB_ARCH}-w64-mingw32)
# The posix thread model gives std::mutex and std::thread (GoogleTest needs them).
set(CMAKE_C_COMPILER   ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
