# Cross-build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix): console
# programs, linked statically, run under wine when tests run on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KAVELON_MINGW x86_64-w64-mingw32)
# The posix thread model has std::thread and std::mutex; the win32 one lacks them.
find_program(CMAKE_CXX_COMPILER NAMES ${KAVELON_MINGW}-g++-posix ${KAVELON_MINGW}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${KAVELON_MINGW}-gcc-posix ${KAVELON_MINGW}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${KAVELON_MINGW}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KAVELON_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests of the Windows programs run through wine (the command is wine, not wine64).
find_program(KAVELON_WINE wine)
if(KAVELON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVELON_WINE})
endif()
