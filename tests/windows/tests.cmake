# The suite as a Windows program (included from tests/CMakeLists.txt in the
# Windows build). ctest runs each test program once, under Wine when
# cross-built (scripts/windows-test), with the Windows tests in tests/windows/.

# The stand-in adapter library as a Windows DLL: the complete one beside the
# test program (the folder the tool loads it from), the one missing a function
# in a folder of its own.
add_library(smbusb_standin SHARED standin/smbusb_standin.c)
set_target_properties(smbusb_standin PROPERTIES OUTPUT_NAME smbusb PREFIX lib
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
add_library(smbusb_partial SHARED standin/smbusb_standin.c)
set_target_properties(smbusb_partial PROPERTIES OUTPUT_NAME smbusb PREFIX lib
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/standin-partial)
target_compile_definitions(smbusb_partial PRIVATE STANDIN_WITHOUT_WRITE_BLOCK)

add_library(kestran_testsupport STATIC support/recording_adapter.cpp)
target_link_libraries(kestran_testsupport PUBLIC kestran_core GTest::gtest GTest::gmock)

# Left out here: the kernel's i2c-dev (Linux only), the POSIX pseudo-terminal
# helper's own tests, the end-to-end tests built on POSIX signals and the
# installed files of the Debian package, the session tests of --record and
# --trace (they use POSIX files; kestran.exe's own are in tests/windows/), the
# tests of the POSIX process edges (standard descriptors,
# signals, pack files that are FIFOs or devices, command-line text and
# --library, hostile input through the real binary, the commands through the
# POSIX process runner, the schema check by python3, the packs database
# shared by two forked processes and on a full tmpfs); the end-to-end tests of
# kestran.exe are in tests/windows/. The tests of simulate_e2e_test.cpp that
# need a pseudo-terminal skip, saying so.
set(KESTRAN_POSIX_ONLY_TESTS i2c_cli_test.cpp i2c_dev_test.cpp hid_emulator_test.cpp pty_run_test.cpp e2e_test.cpp install_test.cpp
  record_test.cpp record_e2e_test.cpp
  standard_streams_test.cpp terminal_signals_test.cpp command_line_text_test.cpp pack_files_test.cpp
  hostile_input_test.cpp commands_e2e_test.cpp json_schema_test.cpp history_processes_test.cpp)
file(GLOB KESTRAN_TEST_SOURCES CONFIGURE_DEPENDS *_test.cpp windows/*_test.cpp)
list(TRANSFORM KESTRAN_POSIX_ONLY_TESTS PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
list(REMOVE_ITEM KESTRAN_TEST_SOURCES ${KESTRAN_POSIX_ONLY_TESTS})
# A build without SQLite has no packs database to test.
if(KESTRAN_NO_SQLITE)
  list(REMOVE_ITEM KESTRAN_TEST_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/history_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/history_database_test.cpp)
endif()

add_executable(kestran_tests ${KESTRAN_TEST_SOURCES} windows/pty_run_windows.cpp windows/process_run.cpp)
target_link_libraries(kestran_tests PRIVATE kestran_testsupport GTest::gtest_main)
# GoogleTest's headers compiled once, not once per test file: the cross
# compiler is slow to read them.
target_precompile_headers(kestran_tests PRIVATE <gmock/gmock.h> <gtest/gtest.h> <string> <vector>)
# Where kestran.exe and the stand-ins are, from the test program's own folder,
# so the build folder can be copied to a Windows machine and run there.
file(RELATIVE_PATH KESTRAN_BINARY_FROM_TESTS ${CMAKE_CURRENT_BINARY_DIR} ${PROJECT_BINARY_DIR}/kestran.exe)
target_compile_definitions(kestran_tests PRIVATE
  KESTRAN_BINARY_FROM_TESTS="${KESTRAN_BINARY_FROM_TESTS}"
  STANDIN_PARTIAL_FROM_TESTS="standin-partial/libsmbusb.dll"
  KESTRAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
  KESTRAN_BINARY="$<TARGET_FILE:kestran>")  # for the pseudo-terminal tests, which skip
add_dependencies(kestran_tests kestran smbusb_standin smbusb_partial)

# One ctest test per program: Wine starts once, not once per test.
set(KESTRAN_WINE_ENVIRONMENT WINEDEBUG=-all WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix "WINEDLLOVERRIDES=mscoree,mshtml=")
add_test(NAME kestran_tests COMMAND kestran_tests --gtest_brief=1)
set_tests_properties(kestran_tests PROPERTIES ENVIRONMENT "${KESTRAN_WINE_ENVIRONMENT}" TIMEOUT 300)
