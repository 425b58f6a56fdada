# Cross-build of the x64 Windows executable with mingw-w64 (win32 thread
# model: no winpthread DLL, no threading imports).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VELMORA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows XP x64 / Server 2003 is the oldest x64 system the program serves.
set(VELMORA_WIN32_WINNT 0x0502)
set(VELMORA_SUBSYSTEM_MINOR 2)

# Every program built here is self-contained, the tests included, so that
# wine needs no mingw DLLs to run them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# wine64 runs the x64 programs on this machine: test commands that name a
# target are started through it, with a wine prefix of the build's own.
# The list is: shell, wrapper script, prefix folder (tests/windows reads the
# last two).
get_filename_component(VELMORA_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh"
                       ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/sh;${VELMORA_WINE_RUN};${CMAKE_BINARY_DIR}/wine")
