# velmora-tree's portable logic: the listing format, the per-folder plan and
# the commands. The entry point and the platform layer are added per system
# (posix.cmake, windows-tree.cmake).
add_library(velmora_tree_logic STATIC
  src/tree/listing.cpp
  src/tree/plan.cpp
  src/tree/tree.cpp)
target_include_directories(velmora_tree_logic PUBLIC src)
target_link_libraries(velmora_tree_logic PUBLIC velmora_names)
target_compile_options(velmora_tree_logic PRIVATE ${VELMORA_WARNINGS})
# The version shown by --help and --version is the project's.
target_compile_definitions(velmora_tree_logic PRIVATE
  VELMORA_VERSION_STRING="${PROJECT_VERSION}")
