# Cross-build of the x86 Windows executable with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELMORA_MINGW_TRIPLE i686-w64-mingw32)
# Windows XP (the first release, build 2600) is the oldest system served.
set(VELMORA_WIN32_WINNT 0x0501)
set(VELMORA_SUBSYSTEM_MINOR 1)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Windows XP runs on every Pentium-class processor: no cmov, no MMX or SSE
# in the code built here (GCC's default for this target is the Pentium Pro).
# CMakeLists.txt passes it to every target.
set(VELMORA_CPU_FLAGS -march=i586)

# No emulator: 32-bit Windows programs cannot run on these machines (the
# 32-bit wine loader is deliberately not installed), so the x86 build is
# checked statically only.
