# Cross-build for 64-bit Windows with Debian's MinGW-w64 (the POSIX threading
# flavour, which gives std::thread and friends): g++-mingw-w64-x86-64-posix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRAN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRAN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRAN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRAN_MINGW_PREFIX}-windres)

# Headers and libraries come from the MinGW tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs the Windows programs under Wine.
find_program(KESTRAN_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KESTRAN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRAN_WINE})
endif()
