# Cross-builds Windows x86-64 programs with Debian's MinGW-w64 compilers. The posix thread model
# is the one with std::thread. Libraries, headers and CMake packages come only from the MinGW root
# (zlib from libz-mingw-w64-dev); more roots, such as a Qt for MinGW, go on CMAKE_PREFIX_PATH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELT_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELT_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELT_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VELT_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run from a plain folder: no MinGW runtime DLLs beside them, and zlib linked in.
# Threads reserve 8 MiB of stack as on Linux, not Windows' 2 MiB, which a host with its stream
# buffer on the stack would overflow.
set(ZLIB_USE_STATIC_LIBS ON)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--stack,8388608")

# CTest runs the test programs through Wine.
find_program(VELT_WINE wine)
if(VELT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VELT_WINE})
endif()
