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
target_link_libraries(velmora-tree PRIVATE velmora_tree_logic)
target_compile_options(velmora-tree PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_WARNINGS}>)
target_include_directories(velmora-tree PRIVATE ${CMAKE_CURRENT_BINARY_DIR}
                                                ${CMAKE_CURRENT_SOURCE_DIR}/src/cli/res)
set_source_files_properties(src/tree/res/velmora-tree.rc PROPERTIES
  OBJECT_DEPENDS "${VELMORA_ICON};${VELMORA_MANIFEST}")

if(MINGW)
  velmora_windows_program(velmora-tree)
  # The logic as the program's own files: for size, without exceptions (the
  # library's would-be throws end the program, tree_win32_runtime.cpp), and
  # with the library's strings instantiated here (tree_win32_cxxconfig.h).
  foreach(target velmora-tree velmora_tree_logic velmora_names)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CXX>:${VELMORA_SIZE_FLAGS}>
      "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/tree_win32_cxxconfig.h>")
  endforeach()
elseif(MSVC)
  target_compile_definitions(velmora-tree PRIVATE _CRT_SECURE_NO_WARNINGS)
  set_property(TARGET velmora-tree PROPERTY MSVC_RUNTIME_LIBRARY "MultiThreaded")
  target_link_options(velmora-tree PRIVATE /SUBSYSTEM:CONSOLE,5.0${VELMORA_SUBSYSTEM_MINOR})
endif()
