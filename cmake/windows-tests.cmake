# The test suite of the Windows build, run under Wine when cross compiling
# (CMAKE_CROSSCOMPILING_EMULATOR) or natively on Windows.
#
# GoogleTest is built from source with the same toolchain. The tests that
# start child processes (the oskavi binary, ffmpeg, flac) use POSIX process
# spawning and Linux tools and stay in the Linux build; the Windows program's
# command-line behaviour and output bytes are checked against the Linux build
# by tools/windows_check.sh instead.

enable_testing()
set(OSKAVI_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest source tree to build for the target")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${OSKAVI_GTEST_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

file(GLOB_RECURSE OSKAVI_WINDOWS_TEST_CANDIDATES CONFIGURE_DEPENDS tests/*.cpp)
set(OSKAVI_WINDOWS_TEST_SOURCES)
foreach(source ${OSKAVI_WINDOWS_TEST_CANDIDATES})
  file(READ ${source} text)
  # Child processes, POSIX calls and POSIX-only fixtures: Linux build only.
  if(text MATCHES "support/(run_process|golden_cases|ac3_decode)\\.h" OR text MATCHES "#include <(sys/|unistd|spawn|dlfcn)"
     OR source MATCHES "platform_test\\.cpp$"
     OR source MATCHES "support/(run_process|golden_cases|ac3_decode)\\.cpp$")
    continue()
  endif()
  list(APPEND OSKAVI_WINDOWS_TEST_SOURCES ${source})
endforeach()

add_executable(oskavi_tests ${OSKAVI_WINDOWS_TEST_SOURCES})
target_link_libraries(oskavi_tests PRIVATE oskavi_app oskavi_test_signal gtest gtest_main)
target_compile_definitions(oskavi_tests PRIVATE
  OSKAVI_BINARY="$<TARGET_FILE:oskavi>"
  OSKAVI_TEST_BUILD_DIR="${CMAKE_CURRENT_BINARY_DIR}"
  OSKAVI_SOURCE_DIR="${CMAKE_CURRENT_SOURCE_DIR}")

# A DLL without FLAC__stream_decoder_finish, for the library search tests
# (MinGW exports every function of a DLL that marks none).
add_library(libflac_missing_finish SHARED tests/fixtures/flac_missing_finish.c)
set_target_properties(libflac_missing_finish PROPERTIES PREFIX "" RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fixtures)
add_dependencies(oskavi_tests libflac_missing_finish)

# One test runs the whole suite: every start of Wine costs a second or more.
add_test(NAME oskavi_tests COMMAND oskavi_tests)
set_tests_properties(oskavi_tests PROPERTIES TIMEOUT 900)
