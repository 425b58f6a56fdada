# Cross-build of the x86 Windows executable with mingw-w64 (win32 thread
# model: no winpthread DLL, no threading imports).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VELMORA_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VELMORA_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Windows XP (the first release, build 2600) is the oldest system served.
set(VELMORA_WIN32_WINNT 0x0501)
set(VELMORA_SUBSYSTEM_MINOR 1)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# No emulator: 32-bit Windows programs cannot run on these machines (the
# 32-bit wine loader is deliberately not installed), so the x86 build is
# checked statically only.
