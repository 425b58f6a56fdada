# Linux (and other POSIX) build: the platform layer over ntfs-3g.
add_library(velmora_posix_platform STATIC
  src/platform/posix.cpp
  src/platform/posix_rules.cpp
  src/platform/posix_folder.cpp)
target_include_directories(velmora_posix_platform PUBLIC src)
target_link_libraries(velmora_posix_platform PUBLIC velmora_names)
target_compile_options(velmora_posix_platform PRIVATE ${VELMORA_WARNINGS})

add_executable(velmora src/cli/main.cpp)
target_link_libraries(velmora PRIVATE velmora_logic velmora_posix_platform)
target_compile_options(velmora PRIVATE ${VELMORA_WARNINGS})

# velmora-tree: the same layer, and its own for whole folders.
add_executable(velmora-tree src/tree/main.cpp src/platform/tree_posix.cpp)
target_link_libraries(velmora-tree PRIVATE velmora_tree_logic velmora_posix_platform)
target_compile_options(velmora-tree PRIVATE ${VELMORA_WARNINGS})

# A static executable loads no shared library at start (no libstdc++, no
# libc), which makes a run cheaper than the dynamically linked attr tools and
# lets it be copied onto a rescue system as one file. The sanitizers need
# their shared runtimes, so a sanitized build stays dynamic.
option(VELMORA_STATIC "Link the Linux executable statically" ON)
if(VELMORA_STATIC AND NOT VELMORA_SANITIZE)
  target_link_options(velmora PRIVATE -static)
  target_link_options(velmora-tree PRIVATE -static)
endif()

include(GNUInstallDirs)
install(TARGETS velmora velmora-tree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/velmora.1 man/velmora-tree.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
