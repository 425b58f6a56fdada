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
set_source_files_properties(src/cli/res/velmora.rc PROPERTIES OBJECT_DEPENDS ${VELMORA_ICON})

add_executable(velmora src/cli/main.cpp src/platform/win32.cpp src/cli/res/velmora.rc)
target_link_libraries(velmora PRIVATE velmora_logic)
target_compile_options(velmora PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_WARNINGS}>)
# The resource compiler finds the icon in the build folder.
target_include_directories(velmora PRIVATE ${CMAKE_CURRENT_BINARY_DIR})

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
  foreach(target velmora velmora_logic)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_SIZE_FLAGS} -include stdio.h>)
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
  endforeach()
  target_link_options(velmora PRIVATE
    -static -static-libgcc -static-libstdc++ -s
    -Wl,--gc-sections
    # Console program that Windows XP (5.01) or XP x64 / Server 2003 (5.02)
    # loads: the loader refuses a higher subsystem or OS version.
    -Wl,--subsystem,console:5.0${VELMORA_SUBSYSTEM_MINOR}
    -Wl,--major-os-version,5 -Wl,--minor-os-version,${VELMORA_SUBSYSTEM_MINOR}
    -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,${VELMORA_SUBSYSTEM_MINOR})
elseif(MSVC)
  target_compile_definitions(velmora PRIVATE _CRT_SECURE_NO_WARNINGS)
  target_compile_definitions(velmora_logic PRIVATE _CRT_SECURE_NO_WARNINGS)
  set_property(TARGET velmora PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  target_link_options(velmora PRIVATE /SUBSYSTEM:CONSOLE,5.0${VELMORA_SUBSYSTEM_MINOR})
endif()
