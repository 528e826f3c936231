# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler
# (apt-get install g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build/windows --target d88cut
# gives a d88cut.exe that needs no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(D88CUT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${D88CUT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${D88CUT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${D88CUT_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${D88CUT_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C++ runtime, libgcc and winpthreads into the program, so that it
# needs no DLL beside it; release builds leave the symbols out.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")
