# Cross build for 32-bit Windows with Debian's mingw-w64 (posix thread model).
# Used by windows/CMakeLists.txt: cmake -S windows -B build-win32 --toolchain cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
