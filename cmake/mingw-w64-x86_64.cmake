# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix). The
# posix thread model is the one whose C++ runtime has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FIELDKIT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FIELDKIT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FIELDKIT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FIELDKIT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FIELDKIT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs on a bare Windows: the C++ runtime, libgcc and winpthread linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run under Wine on the build machine.
find_program(FIELDKIT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(FIELDKIT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${FIELDKIT_WINE})
endif()
