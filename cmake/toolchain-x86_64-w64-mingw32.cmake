# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model).
# Used by windows/CMakeLists.txt: cmake -S windows -B build-win64 --toolchain cmake/toolchain-x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
