# Cross-builds the Windows programs on Linux with MinGW-w64 (the POSIX thread
# model, which std::thread and GoogleTest need); the tests run under Wine.
#   cmake -S . -B build-windows --toolchain cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Each .exe carries its runtime, so it runs alone on any Windows.
set(PAL_STATIC_RUNTIME ON CACHE BOOL "")
# Debian ships GoogleTest for Linux only; build it from its sources.
set(PAL_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "")

# The tests run under Wine; the build itself runs nothing of the target's.
find_program(PAL_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(PAL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PAL_WINE})
endif()
