# Linux (and other POSIX) build: the platform layer over ntfs-3g.
add_executable(velmora src/cli/main.cpp src/platform/posix.cpp)
target_link_libraries(velmora PRIVATE velmora_logic)
target_compile_options(velmora PRIVATE ${VELMORA_WARNINGS})
