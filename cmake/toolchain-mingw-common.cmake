# What the two mingw-w64 cross builds share (posix thread model). Included by
# toolchain-i686-w64-mingw32.cmake and toolchain-x86_64-w64-mingw32.cmake once they have set
# CMAKE_SYSTEM_PROCESSOR and TOOLCHAIN_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOOLCHAIN_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOOLCHAIN_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${TOOLCHAIN_TRIPLE}-objdump)
# The IDL compiler that makes the type library (mingw-w64-tools).
set(WINDOWS_WIDL ${TOOLCHAIN_TRIPLE}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run under Wine in the tests.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
