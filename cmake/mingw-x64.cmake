# Cross-build of the x64 Windows executable with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELMORA_MINGW_TRIPLE x86_64-w64-mingw32)
# Windows XP x64 / Server 2003 is the oldest x64 system the program serves.
set(VELMORA_WIN32_WINNT 0x0502)
set(VELMORA_SUBSYSTEM_MINOR 2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# wine64 runs the x64 programs on this machine: test commands that name a
# target are started through it, with a wine prefix of the build's own.
# The list is: shell, wrapper script, prefix folder (tests/windows reads the
# last two).
get_filename_component(VELMORA_WINE_RUN "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh"
                       ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/sh;${VELMORA_WINE_RUN};${CMAKE_BINARY_DIR}/wine")
