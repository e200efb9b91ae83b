# Cross build of the 32-bit Windows program with Debian's MinGW-w64 (posix
# thread model, needed for std::thread and std::mutex):
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(OSKAVI_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 arithmetic instead of the x87 stack: doubles are rounded to 64 bits at
# every step, as on x86-64, so the encoder's decisions and bytes match.
set(CMAKE_C_FLAGS_INIT "-mfpmath=sse -msse2")
set(CMAKE_CXX_FLAGS_INIT "-mfpmath=sse -msse2")
