# Cross-building the 32-bit Windows console program with Debian's MinGW-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(PELDO_MINGW_PREFIX i686-w64-mingw32)
# The compiler's thread model. posix for the tests: GoogleTest needs
# std::mutex, which the win32 model of this compiler lacks; the thread
# library is then linked in statically. win32 for the program that ships
# (scripts/build-win32): that thread library calls GetTickCount64, which
# Windows XP lacks, and the program needs no thread of its own.
set(PELDO_MINGW_THREADS posix CACHE STRING "Thread model of the MinGW-w64 compiler: posix or win32")
set(CMAKE_C_COMPILER ${PELDO_MINGW_PREFIX}-gcc-${PELDO_MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${PELDO_MINGW_PREFIX}-g++-${PELDO_MINGW_THREADS})
set(CMAKE_RC_COMPILER ${PELDO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELDO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows executables under Wine.
find_program(PELDO_WINE wine)
if(PELDO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PELDO_WINE})
endif()
