# The Windows build, cross-built with MinGW-w64 (cmake/mingw-w64-x86_64.cmake,
# preset "windows"): one kestran.exe that needs no DLL of the compiler's, only
# the adapter library, on Windows 10 or later.

# Windows 10's API; the console, library and timer calls are spelled out (the W forms).
target_compile_definitions(kestran_core PUBLIC _WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)
# timeBeginPeriod, for millisecond pauses.
target_link_libraries(kestran_core PUBLIC winmm)
# libgcc, libstdc++ and winpthread linked in, for kestran.exe and for every
# program and DLL defined after this point (the tests and their stand-in library).
target_link_options(kestran PRIVATE -static)
add_link_options(-static)

# GoogleTest is not packaged for MinGW: it is built here from the sources
# Debian ships in its googletest package, and find_package(GTest) finds it.
if(NOT DEFINED BUILD_TESTING OR BUILD_TESTING)
  set(KESTRAN_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
    "GoogleTest's sources (Debian package googletest)")
  if(NOT EXISTS ${KESTRAN_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest's sources are not in ${KESTRAN_GOOGLETEST_SOURCE_DIR}: "
      "install Debian's googletest package, or configure with -DBUILD_TESTING=OFF")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  include(FetchContent)
  FetchContent_Declare(GTest SOURCE_DIR ${KESTRAN_GOOGLETEST_SOURCE_DIR} OVERRIDE_FIND_PACKAGE)
  FetchContent_MakeAvailable(GTest)
  # Its own code, its own warnings: they are not ours to make errors of.
  set_target_properties(gtest gtest_main gmock gmock_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
endif()
