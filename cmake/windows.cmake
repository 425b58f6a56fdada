# Windows build: straight calls into kernel32 and advapi32, one static,
# stripped console executable that Windows XP loads.

# The oldest system served decides which declarations <windows.h> offers, so
# a call XP lacks fails to compile instead of failing to load. The toolchain
# files pick XP (x86) or XP x64 / Server 2003 (x64); other toolchains (MSYS2,
# Visual Studio) get the value from the target's bitness.
if(NOT DEFINED VELMORA_WIN32_WINNT)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELMORA_WIN32_WINNT 0x0502)
    set(VELMORA_SUBSYSTEM_MINOR 2)
  else()
    set(VELMORA_WIN32_WINNT 0x0501)
    set(VELMORA_SUBSYSTEM_MINOR 1)
  endif()
endif()
add_compile_definitions(_WIN32_WINNT=${VELMORA_WIN32_WINNT} WINVER=${VELMORA_WIN32_WINNT}
                        WIN32_LEAN_AND_MEAN)

# The icon group is drawn at build time by a script the project keeps.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(VELMORA_ICON ${CMAKE_CURRENT_BINARY_DIR}/velmora.ico)
add_custom_command(
  OUTPUT ${VELMORA_ICON}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res/make_icon.py ${VELMORA_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res/make_icon.py
  COMMENT "Drawing velmora.ico"
  VERBATIM)
set(VELMORA_MANIFEST ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res/velmora.manifest)
set_source_files_properties(src/cli/res/velmora.rc PROPERTIES
  OBJECT_DEPENDS "${VELMORA_ICON};${VELMORA_MANIFEST}")

add_executable(velmora src/cli/main.cpp src/platform/win32.cpp src/cli/res/velmora.rc)
target_link_libraries(velmora PRIVATE velmora_logic)
target_compile_options(velmora PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_WARNINGS}>)
# The resource compiler finds the icon in the build folder and the manifest
# beside the resource script.
target_include_directories(velmora PRIVATE ${CMAKE_CURRENT_BINARY_DIR}
                                           ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res)

if(MINGW)
  # Size: the program is small and must stay within 64 KiB. The logic throws
  # nothing and asks no type at run time, so it needs neither tables; and
  # printf is msvcrt's own (which has every conversion the tool prints), not
  # the larger mingw replacement.
  set(VELMORA_SIZE_FLAGS -Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
                         -fno-asynchronous-unwind-tables -fno-unwind-tables)
  # libstdc++ switches every C++ file to the mingw printf; <stdio.h> read
  # first, with the switch off, keeps msvcrt's, and the format checks then
  # follow msvcrt's rules too.
  target_compile_options(velmora_logic PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_SIZE_FLAGS} -include stdio.h>)
  target_compile_definitions(velmora_logic PRIVATE __USE_MINGW_ANSI_STDIO=0)

  # The process entry of the project's own (the mingw-w64 one is built for
  # the Pentium Pro); the source says what it does and leaves out.
  add_library(velmora_win32_start OBJECT src/startup/win32_start.c)
  target_compile_options(velmora_win32_start PRIVATE ${VELMORA_WARNINGS} -Os -ffunction-sections
                         -fno-asynchronous-unwind-tables -fno-unwind-tables)

  # What each Windows program of the project gets: the size flags, msvcrt's
  # printf, the entry above, and the headers Windows XP's loader reads.
  function(velmora_windows_program target)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_SIZE_FLAGS} -include stdio.h>)
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:velmora_win32_start>)
    target_link_options(${target} PRIVATE
      -static -static-libgcc -static-libstdc++ -s
      -Wl,--gc-sections
      -nostartfiles
      # A data import without dllimport would need the start-up code's
      # relocator, which the entry above does not run: fail the link instead.
      -Wl,--disable-runtime-pseudo-reloc
      # Console program that Windows XP (5.01) or XP x64 / Server 2003 (5.02)
      # loads: the loader refuses a higher subsystem or OS version.
      -Wl,--subsystem,console:5.0${VELMORA_SUBSYSTEM_MINOR}
      -Wl,--major-os-version,5 -Wl,--minor-os-version,${VELMORA_SUBSYSTEM_MINOR}
      -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${VELMORA_SUBSYSTEM_MINOR})
  endfunction()
  velmora_windows_program(velmora)
elseif(MSVC)
  target_compile_definitions(velmora PRIVATE _CRT_SECURE_NO_WARNINGS)
  target_compile_definitions(velmora_logic PRIVATE _CRT_SECURE_NO_WARNINGS)
  set_property(TARGET velmora PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  target_link_options(velmora PRIVATE /SUBSYSTEM:CONSOLE,5.0${VELMORA_SUBSYSTEM_MINOR})
endif()

include(${CMAKE_CURRENT_LIST_DIR}/windows-tree.cmake OPTIONAL)
