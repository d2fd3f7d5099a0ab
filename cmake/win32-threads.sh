#!/bin/sh
# Compiler and linker launcher of the shipped programs: runs the mingw-w64
# driver of the win32 thread model in place of the posix one CMake was
# configured with. The posix model links its thread library (winpthreads)
# into every program that uses C++ exceptions or thread_local, and that
# library imports functions Windows XP lacks (GetTickCount64); the win32
# model's runtime uses only what XP has. The tests keep the posix model
# (GoogleTest and the tests use std::mutex and std::thread).
cc="$1"; shift
case "$cc" in
  *-posix) cc="${cc%-posix}-win32" ;;
esac
exec "$cc" "$@"
