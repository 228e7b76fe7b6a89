# Cross-compiles the Windows program with Debian's MinGW-w64 toolchain for the processor the including
# toolchain file names: i686 for the 32-bit product, x86_64 for the 64-bit build that proves the sources.
set(CMAKE_SYSTEM_NAME Windows)
set(triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)

# The win32 thread model needs no winpthread DLL, even before static linking.
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-win32 ${triple}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-win32 ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
