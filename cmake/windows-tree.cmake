# velmora-tree for Windows: the tree logic over the wide-character layer,
# built like velmora.exe (static, stripped, the project's process entry,
# loaded by Windows XP), with a version record of its own and velmora's icon
# and manifest. Included at the end of windows.cmake, whose icon step and
# program settings it reuses.

# The tree logic is defined by cmake/tree.cmake.
if(NOT TARGET velmora_tree_logic)
  return()
endif()

add_executable(velmora-tree
  src/tree/main.cpp
  src/platform/tree_win32.cpp
  src/platform/tree_win32_text.cpp
  src/platform/tree_win32_runtime.cpp
  src/tree/res/velmora-tree.rc)
target_compile_options(velmora-tree PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_WARNINGS}>)
target_include_directories(velmora-tree PRIVATE ${CMAKE_CURRENT_BINARY_DIR}
                                                ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res)
set_source_files_properties(src/tree/res/velmora-tree.rc PROPERTIES
  OBJECT_DEPENDS "${VELMORA_ICON};${VELMORA_MANIFEST}")

if(MINGW)
  velmora_windows_program(velmora-tree)
  # The logic and the 8.3 rules it uses are compiled as the program's own
  # files rather than linked from their libraries, which the unit tests link
  # as they are: for size; without exceptions (what the library would throw
  # ends the program, tree_win32_runtime.cpp); and with libstdc++'s strings
  # instantiated here, for the program's processor, instead of taken from
  # the library's build (tree_win32_cxxconfig.h). Built with exceptions,
  # those would bring the whole exception machinery back (some 100 KiB).
  foreach(library velmora_tree_logic velmora_names)
    get_target_property(sources ${library} SOURCES)
    target_sources(velmora-tree PRIVATE ${sources})
    get_target_property(definitions ${library} COMPILE_DEFINITIONS)
    if(definitions)
      target_compile_definitions(velmora-tree PRIVATE ${definitions})
    endif()
  endforeach()
  target_include_directories(velmora-tree PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
  target_compile_options(velmora-tree PRIVATE
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/tree_win32_cxxconfig.h>")
else()
  target_link_libraries(velmora-tree PRIVATE velmora_tree_logic)
  if(MSVC)
    target_compile_definitions(velmora-tree PRIVATE _CRT_SECURE_NO_WARNINGS)
    set_property(TARGET velmora-tree PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
    target_link_options(velmora-tree PRIVATE /SUBSYSTEM:CONSOLE,5.0${VELMORA_SUBSYSTEM_MINOR})
  endif()
endif()
